#include "window/frm_main_win.h"

#include "platform/win32.h"
#include "startup/mmain_win.h"
#include "startup/startup.h"
#include "window/layout.h"

namespace sealupdate {
namespace {

constexpr wchar_t kWindowClass[] = L"sealupdate.frmMain";

struct FrmMain {
  HWND hwnd = nullptr;
  std::int32_t mode = 0;
  win::UniqueIcon smallIcon;
};

FrmMain gFrmMain;

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// Window size in pixels for the designed client area.
SIZE WindowSizeFor(DWORD style, DWORD exStyle, int dpi) {
  RECT r{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void Form_Load(FrmMain& form) {
  SetWindowTextW(form.hwnd, win::Wide(MainWindowTitle(gUpdateInfo->SoftName())).c_str());
  RECT r{};
  GetWindowRect(form.hwnd, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  int left = 0;
  int top = 0;
  if (form.mode == 2) {
    left = top = TwipsToPixels(kOffscreenTwips, ScreenDpi());
  } else {
    left = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
    top = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
  }
  SetWindowPos(form.hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  std::u16string iconFile;
  form.smallIcon.reset(SetWindowIconFromFile(form.hwnd, iconFile, 0));
}

void Form_Unload() {
  gUpdateInfo.reset();
  PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      Form_Unload();
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

}  // namespace

int RunMainWindow(std::int32_t mode) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return 1;

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  const SIZE size = WindowSizeFor(style, 0, ScreenDpi());
  gFrmMain.mode = mode;
  gFrmMain.hwnd =
      CreateWindowExW(0, kWindowClass, win::Wide(kDesignedTitle).c_str(), style, CW_USEDEFAULT,
                      CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance, nullptr);
  if (!gFrmMain.hwnd) return 1;
  Form_Load(gFrmMain);
  if (mode <= 1) ShowWindow(gFrmMain.hwnd, SW_SHOW);

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace sealupdate
