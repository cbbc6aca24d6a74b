// The notification-area icon module on real windows under Wine: the icon reaches the shell, the
// window procedure is hooked and put back, clicks restore, minimizing hides, closing removes
// the icon before the window's own handling, and a new taskbar gets the icon again.
#include "platform/win32.h"

#include <shellapi.h>

#include <cstdio>

#include "widgets/tray_icon_win.h"

namespace sealupdate {
namespace {

int gFailures = 0;
bool gCloseSawIcon = true;
TrayIcon* gTray = nullptr;
bool gCallbackPassedOn = false;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  std::fflush(stdout);
  if (!ok) ++gFailures;
}

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) gCloseSawIcon = gTray->Installed();
  if (message == kTrayCallbackMessage && lParam == WM_RBUTTONUP) gCallbackPassedOn = true;
  return DefWindowProcW(window, message, wParam, lParam);
}

void Pump() {
  MSG msg{};
  for (int i = 0; i < 20; ++i) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    Sleep(10);
  }
}

// NIM_MODIFY without fields succeeds only for an icon the shell knows.
bool IconExists(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// What a restarted shell does: it forgets every icon.
void ForgetIcon(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

bool Hooked(HWND window) {
  return GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TrayWndProc);
}

HWND MakeWindow(const wchar_t* title) {
  HWND window = CreateWindowExW(0, L"tray_check", title, WS_OVERLAPPEDWINDOW, 100, 100, 300, 200,
                                nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  Pump();
  return window;
}

// Minimizes with the mouse at `y` and tells whether the window was hidden.
bool MinimizeHides(HWND window, int y) {
  SetCursorPos(500, y);
  Pump();  // Wine's cursor position follows SetCursorPos only after messages ran
  ShowWindow(window, SW_MINIMIZE);
  Pump();
  return !IsWindowVisible(window);
}

void Run() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = FormProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"tray_check";
  RegisterClassExW(&wc);
  TrayIcon tray(Win32TrayPlatform());
  gTray = &tray;

  HWND form = MakeWindow(L"托盘检查 - 更新");
  const HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
  SendMessageW(form, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 1, L"显示(&S)");

  Check(tray.AddTrayIcon(TrayHandle(form), kToolTipPlaceholder, 0, TrayHandle(menu)), "added");
  Check(IconExists(form), "the shell has the icon");
  Check(Hooked(form), "window procedure hooked");
  Check(tray.TrayIconData().szTip == u"托盘检查 - 更新", "caption as tooltip");
  Check(tray.TrayIconData().hIcon == TrayHandle(icon), "window's own icon");
  Check(!tray.AddTrayIcon(TrayHandle(form), u"x", 0, 0), "second add refused");
  Check(tray.ShowTrayBalloon(kToolTipPlaceholder, u"自动更新", u"智能更新程序", 1, 0) ==
            TrayHandle(icon),
        "balloon returns the icon");

  ForgetIcon(form);
  Check(!IconExists(form), "icon gone with the old taskbar");
  SendMessageW(form, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  Check(IconExists(form), "icon added again for the new taskbar");

  RECT before{};
  GetWindowRect(form, &before);
  RECT bar{};
  HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (taskbar && GetWindowRect(taskbar, &bar) && bar.top > 20) {
    std::printf("taskbar top %ld\n", bar.top);
    Check(!MinimizeHides(form, bar.top + 1), "minimized on the taskbar stays");
    Check(IsIconic(form) && IsWindowVisible(form), "still minimized on the taskbar");
    ShowWindow(form, SW_RESTORE);
    Check(MinimizeHides(form, bar.top - 10), "minimized from the title bar hides");
  } else {
    std::printf("no taskbar\n");
    Check(!MinimizeHides(form, 10), "without a taskbar it stays minimized");
  }
  SendMessageW(form, kTrayCallbackMessage, 0, WM_LBUTTONDBLCLK);
  Pump();
  Check(IsWindowVisible(form) && !IsIconic(form), "double click restores");
  RECT after{};
  GetWindowRect(form, &after);
  Check(EqualRect(&before, &after), "in its last size and position");

  // The popup runs its own loop; a timer closes it.
  SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    EndMenu();
  });
  SendMessageW(form, kTrayCallbackMessage, 0, WM_RBUTTONUP);
  Check(gCallbackPassedOn, "right click passed on after the menu");

  SendMessageW(form, WM_CLOSE, 0, 0);
  Check(!gCloseSawIcon, "icon removed before the window's own close");
  Check(!IsWindow(form), "window closed");
  Check(!tray.Installed(), "module idle");

  HWND second = MakeWindow(L"托盘检查二");
  Check(tray.AddTrayIcon(TrayHandle(second), u"tip", 0, 0), "added to a new window");
  tray.RemoveTrayIcon(false);
  Check(!IconExists(second) && !Hooked(second), "removed and unhooked");
  Check(tray.AddTrayIcon(TrayHandle(second), u"tip", 0, 0), "added again");
  tray.RemoveTrayIcon(true);
  Pump();
  Check(!IsWindow(second), "exit path closes the window");
  DestroyMenu(menu);
}

}  // namespace
}  // namespace sealupdate

int wmain() {
  sealupdate::Run();
  return sealupdate::gFailures == 0 ? 0 : 1;
}
