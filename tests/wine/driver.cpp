// The Windows side of the end-to-end tests, run under Wine next to the client. It plays the user
// (finds a window by its exact title, reads its controls, presses buttons, answers message
// boxes), hosts the widgets and the download component on real windows, and prints UTF-8, one
// fact per line. Exits 0 on success, 1 on failure or time-out, 2 on bad usage.
//
//   wait TITLE [--visible] [--timeout MS]   until the window exists (and is visible)
//   info TITLE                              visible=, rect=, client=, pid=, screen=, and
//                                           per control=class|id|x,y,w,h|text (\\, \r, \n
//                                           escaped)
//   click TITLE CAPTION | minimize TITLE | close TITLE
//   popup [--timeout MS]                    the rect= of the open popup menu
//   msgbox PID ANSWER [--timeout MS]        title= and text= of the visible message box of PID,
//                                           then press ANSWER (yes, no, ok; wait: nothing)
//   probe PATH                              write= and delete=: whether another program could
//                                           open PATH for writing or delete it (1) or not (0)
//   tray-check                              the notification-icon module on real windows
//   progress-bar TITLE                      a bar at 50 % in a window titled TITLE; prints
//                                           bar= (screen x,y,w,h), events= and model=, then
//                                           runs until the window is closed
//   download [--get NAME URL SAVE]... [--cancel-on-progress NAME N] [--cancel-at MS NAME]
//            [--lock PATH] [--linger MS] [--sha256] [--stall MS] [--backoff MS] [--retries N]
//       a Downloader with the real WinINet reader and a message loop, as the client's window
//       has; SAVE "-": in memory, then written to NAME.bin in the working folder. It removes
//       task NAME at its Nth progress event (or MS after the start), holds PATH open without
//       sharing, and waits MS after the last task ended; the reader's stall timeout, first
//       back-off and retries per address are as given (short ones keep the tests fast). Prints
//       "begin NAME|RESULT", "progress NAME|VALUE|MAX", "retry NAME|N|OF", "complete
//       NAME|ERR|BYTES", "cancelled NAME", with --sha256 "sha256 SAVE|HEX" of each finished file
//       body, then "elapsed_ms N" (first request to last completion) and "peak_working_set N".
#include "platform/win32.h"

#include <psapi.h>  // after <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "download/downloader.h"
#include "platform/files.h"
#include "widgets/progress_bar_win.h"
#include "widgets/tray_icon_win.h"

namespace sealupdate {
namespace {

using Args = std::vector<std::wstring>;

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
std::string Utf8(const std::wstring& text) { return Utf16ToUtf8(win::FromWide(text)); }
std::string Number(double value) { return std::to_string(static_cast<long long>(value)); }
std::string Rect(const RECT& r, bool size) {
  return Number(r.left) + "," + Number(r.top) + "," + Number(size ? r.right - r.left : r.right) +
         "," + Number(size ? r.bottom - r.top : r.bottom);
}

// GetWindowText does not read another process's edit control.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0, copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 2000, &copied);
  text.resize(copied);
  return text;
}

std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text))
    out += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

template <typename Pred>
bool WaitFor(const Args& args, DWORD fallbackMs, Pred pred) {
  DWORD timeout = fallbackMs;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == L"--timeout") timeout = std::stoul(args[i + 1]);
  }
  for (const ULONGLONG end = GetTickCount64() + timeout;; Sleep(20)) {
    if (pred()) return true;
    if (GetTickCount64() >= end) return false;
  }
}

std::vector<HWND> Windows(HWND parent) {  // top-level windows without a parent
  std::vector<HWND> out;
  const auto add = [](HWND h, LPARAM p) -> BOOL {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
  };
  if (parent)
    EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&out));
  else
    EnumWindows(add, reinterpret_cast<LPARAM>(&out));
  return out;
}

int Fail(const std::string& what) {
  Print("error=" + what);
  return 1;
}

int Drive(const Args& args) {
  const std::wstring& cmd = args[0];
  const std::wstring target = args.size() > 1 ? args[1] : L"";
  HWND h = FindWindowW(nullptr, target.c_str());
  if (cmd == L"wait") {
    const bool visible = args.size() > 2 && args[2] == L"--visible";
    return WaitFor(args, 10000,
                   [&] {
                     h = FindWindowW(nullptr, target.c_str());
                     return h && (!visible || IsWindowVisible(h));
                   })
               ? 0
               : Fail("timed out waiting for " + Utf8(target));
  }
  if (cmd == L"popup") {
    HWND menu = nullptr;
    if (!WaitFor(args, 5000,
                 [&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); }))
      return Fail("no popup menu");
    RECT r{};
    GetWindowRect(menu, &r);
    Print("rect=" + Rect(r, false));
    return 0;
  }
  if (cmd == L"probe") {
    const win::UniqueFileHandle writer(CreateFileW(
        target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Print("write=" + Number(writer ? 1 : 0) + "\ndelete=" + Number(DeleteFileW(target.c_str())));
    return 0;
  }
  if (cmd == L"msgbox" && args.size() > 2) {
    const DWORD pid = std::stoul(target);
    HWND box = nullptr;
    const bool found = WaitFor(args, 10000, [&] {
      for (HWND w : Windows(nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && ClassOf(w) == L"#32770" && IsWindowVisible(w))
          return (box = w) != nullptr;
      }
      return false;
    });
    if (!found) return Fail("no message box");
    HWND text = GetDlgItem(box, 0xFFFF);
    Print("title=" + Escaped(TextOf(box)) + "\ntext=" + Escaped(text ? TextOf(text) : L""));
    const int id = args[2] == L"yes" ? IDYES : args[2] == L"no" ? IDNO : IDOK;
    if (args[2] == L"wait") return 0;
    if (!GetDlgItem(box, id)) return Fail("the message box has no such button");
    PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0);  // posted: sent, it would wait for the box
    return 0;
  }
  if (!h) return Fail("no window titled " + Utf8(target));
  if (cmd == L"info") {
    RECT w{}, c{};
    GetWindowRect(h, &w);
    GetClientRect(h, &c);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    Print("visible=" + Number(IsWindowVisible(h)) + "\nrect=" + Rect(w, false) +
          "\nclient=" + Number(c.right) + "," + Number(c.bottom) + "\npid=" + Number(pid) +
          "\nscreen=" + Number(GetSystemMetrics(SM_CXSCREEN)) + "," +
          Number(GetSystemMetrics(SM_CYSCREEN)));
    for (HWND child : Windows(h)) {
      RECT r{};  // in the parent's client coordinates
      GetWindowRect(child, &r);
      MapWindowPoints(HWND_DESKTOP, h, reinterpret_cast<POINT*>(&r), 2);
      Print("control=" + Utf8(ClassOf(child)) + "|" + Number(GetDlgCtrlID(child)) + "|" +
            Rect(r, true) + "|" + Escaped(TextOf(child)));
    }
    return 0;
  }
  if (cmd == L"click" && args.size() > 2) {
    for (HWND child : Windows(h)) {
      if (ClassOf(child) == L"Button" && TextOf(child) == args[2]) {
        PostMessageW(child, BM_CLICK, 0, 0);
        return 0;
      }
    }
    return Fail("no button " + Utf8(args[2]));
  }
  if (cmd == L"minimize") return PostMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0) ? 0 : 1;
  if (cmd == L"close") return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
  return 2;
}

// --- tray-check: the icon reaches the shell, the window procedure is hooked and put back, clicks
// restore, minimizing hides, closing removes the icon before the window's own handling, and a
// new taskbar gets the icon again.

int gFailures = 0;
bool gCloseSawIcon = true;
TrayIcon* gTray = nullptr;
bool gCallbackPassedOn = false;

void Check(bool ok, const char* what) {
  Print(std::string(ok ? "ok: " : "FAILED: ") + what);
  gFailures += ok ? 0 : 1;
}

void Pump() {
  MSG msg{};
  for (int i = 0; i < 20; ++i, Sleep(10)) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

// NIM_MODIFY without fields succeeds only for an icon the shell knows; NIM_DELETE is what a
// restarted shell does to every icon.
bool NotifyIcon(HWND window, DWORD message) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  return Shell_NotifyIconW(message, &data) != FALSE;
}

bool Hooked(HWND window) {
  return GetWindowLongPtrW(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TrayWndProc);
}

// A shown top-level window of a class of its own (named after its title).
HWND MakeWindow(WNDPROC proc, const wchar_t* title) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = title;
  RegisterClassExW(&wc);
  HWND window = CreateWindowExW(0, title, title, WS_OVERLAPPEDWINDOW, 100, 100, 320, 200, nullptr,
                                nullptr, wc.hInstance, nullptr);
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

LRESULT CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) gCloseSawIcon = gTray->Installed();
  if (message == kTrayCallbackMessage && lParam == WM_RBUTTONUP) gCallbackPassedOn = true;
  return DefWindowProcW(window, message, wParam, lParam);
}

int TrayCheck() {
  TrayIcon tray(Win32TrayPlatform());
  gTray = &tray;
  HWND form = MakeWindow(FormProc, L"托盘检查 - 更新");
  const HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
  SendMessageW(form, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  const win::UniqueMenu menu(CreatePopupMenu());
  AppendMenuW(menu.get(), MF_STRING, 1, L"显示(&S)");

  Check(tray.AddTrayIcon(TrayHandle(form), kToolTipPlaceholder, 0, TrayHandle(menu.get())),
        "added");
  Check(NotifyIcon(form, NIM_MODIFY) && Hooked(form), "the shell has the icon; procedure hooked");
  Check(tray.TrayIconData().szTip == u"托盘检查 - 更新" &&
            tray.TrayIconData().hIcon == TrayHandle(icon),
        "the window's caption as tooltip and its own icon");
  Check(!tray.AddTrayIcon(TrayHandle(form), u"x", 0, 0), "second add refused");
  Check(tray.ShowTrayBalloon(kToolTipPlaceholder, u"自动更新", u"智能更新程序", 1, 0) ==
            TrayHandle(icon),
        "balloon returns the icon");
  Check(NotifyIcon(form, NIM_DELETE) && !NotifyIcon(form, NIM_MODIFY), "the old taskbar forgot it");
  SendMessageW(form, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  Check(NotifyIcon(form, NIM_MODIFY), "icon added again for a new taskbar");

  RECT before{}, bar{};
  GetWindowRect(form, &before);
  HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (taskbar && GetWindowRect(taskbar, &bar) && bar.top > 20) {
    Check(!MinimizeHides(form, bar.top + 1) && IsIconic(form) && IsWindowVisible(form),
          "minimized with the mouse on the taskbar stays on it");
    ShowWindow(form, SW_RESTORE);
    Check(MinimizeHides(form, bar.top - 10), "minimized from the title bar hides");
  } else {
    Check(!MinimizeHides(form, 10), "without a taskbar it stays minimized");
  }
  SendMessageW(form, kTrayCallbackMessage, 0, WM_LBUTTONDBLCLK);
  Pump();
  RECT after{};
  GetWindowRect(form, &after);
  Check(IsWindowVisible(form) && !IsIconic(form) && EqualRect(&before, &after),
        "double click restores in the last size and position");

  SetTimer(nullptr, 0, 300, [](HWND, UINT, UINT_PTR id, DWORD) {  // ends the menu's own loop
    KillTimer(nullptr, id);
    EndMenu();
  });
  SendMessageW(form, kTrayCallbackMessage, 0, WM_RBUTTONUP);
  Check(gCallbackPassedOn, "right click passed on after the menu");
  SendMessageW(form, WM_CLOSE, 0, 0);
  Check(!gCloseSawIcon, "icon removed before the window's own close");
  Check(!IsWindow(form) && !tray.Installed(), "window closed, module idle");

  HWND second = MakeWindow(FormProc, L"托盘检查二");
  Check(tray.AddTrayIcon(TrayHandle(second), u"tip", 0, 0), "added to a new window");
  tray.RemoveTrayIcon(false);
  Check(!NotifyIcon(second, NIM_MODIFY) && !Hooked(second), "removed and unhooked");
  Check(tray.AddTrayIcon(TrayHandle(second), u"tip", 0, 0), "added again");
  tray.RemoveTrayIcon(true);
  Pump();
  Check(!IsWindow(second), "exit path closes the window");
  return gFailures == 0 ? 0 : 1;
}

// --- progress-bar: the bar's window class at its designed size, for a screenshot.

int ProgressBarHost(const std::wstring& title) {
  if (!RegisterProgressBarClass()) return 1;
  HWND host = MakeWindow(
      [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcW(hwnd, message, wParam, lParam);
      },
      title.c_str());
  // 3465 x 405 twips, the size of a newly placed bar, at the prefix's 96 DPI.
  HWND bar = CreateWindowExW(0, kProgressBarClassName, L"", WS_CHILD | WS_VISIBLE, 20, 20, 231, 27,
                             host, nullptr, GetModuleHandleW(nullptr), nullptr);
  ProgressBar* model = bar ? ProgressBarOf(bar) : nullptr;
  if (!host || !model) return 1;
  SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
  std::string events;
  model->events.Change = [&events] { events += "Change,"; };
  model->events.NowIsMax = [&events] { events += "NowIsMax,"; };
  model->SetMax(100);
  model->SetValue(50);
  const auto mouse = [&events](const char* name) {
    return [&events, name](std::int16_t& button, std::int16_t& shift, float& x, float& y) {
      char line[80];
      std::snprintf(line, sizeof line, "%s(%d;%d;%g;%g),", name, button, shift, x, y);
      events += line;
    };
  };
  model->events.MouseDown = mouse("MouseDown");
  model->events.MouseUp = mouse("MouseUp");
  model->events.Click = [&events] { events += "Click,"; };
  // A click at pixel (10, 5) reaches the owner as twips.
  SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(10, 5));
  SendMessageW(bar, WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(10, 5));
  RECT r{};
  GetWindowRect(bar, &r);
  // model=1: the class hands out its model only for its own windows.
  Print("bar=" + Rect(r, true) + "\nevents=" + events +
        "\nmodel=" + Number(ProgressBarOf(host) == nullptr));
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
  return 0;
}

// --- download: the Downloader with the real WinINet reader.

struct Host final : DownloaderEvents {
  Downloader* dl = nullptr;
  std::u16string cancelOn;
  long cancelAfter = 1;
  ULONGLONG lastCompletion = 0;

  void AddDownloadTask(const std::u16string&, const std::u16string&, const std::u16string&,
                       std::int32_t) override {}
  void DownloadProgress(const std::u16string&, const std::u16string& name, const std::u16string&,
                        double value, double max, const std::u16string&, const std::u16string&,
                        std::int32_t) override {
    Print("progress " + Utf16ToUtf8(name) + "|" + Number(value) + "|" + Number(max));
    if (name == cancelOn && --cancelAfter == 0) {
      dl->RemoveTask(name);
      Print("cancelled " + Utf16ToUtf8(name));
    }
  }
  void DownloadRetry(const std::u16string&, const std::u16string& name, const std::u16string&,
                     std::int32_t retry, std::int32_t retries) override {
    Print("retry " + Utf16ToUtf8(name) + "|" + Number(retry) + "|" + Number(retries));
  }
  void DownloadComplete(const std::u16string&, const std::u16string& name, const std::u16string&,
                        const std::string& bytes, TransferError err, std::int32_t) override {
    lastCompletion = GetTickCount64();
    Print("complete " + Utf16ToUtf8(name) + "|" + Number(ErrorNumber(err)) + "|" +
          Number(static_cast<double>(bytes.size())));
    if (!err && !bytes.empty()) WriteWholeFile(name + u".bin", bytes);
  }
};

int Download(const Args& args) {
  Host host;
  std::vector<std::u16string> gets;  // name, URL, save path
  std::u16string lockPath;
  DWORD linger = 0;
  bool hash = false;
  ReaderTuning tuning;
  ULONGLONG cancelAt = 0;
  std::u16string cancelAtName;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const auto next = [&] { return i + 1 < args.size() ? win::FromWide(args[++i]) : u""; };
    if (args[i] == L"--get") {
      for (int k = 0; k < 3; ++k) gets.push_back(next());
      if (gets.back() == u"-") gets.back().clear();
    } else if (args[i] == L"--cancel-on-progress") {
      host.cancelOn = next();
      host.cancelAfter = std::stol(win::Wide(next()));
    } else if (args[i] == L"--lock") {
      lockPath = next();
    } else if (args[i] == L"--sha256") {
      hash = true;
    } else if (args[i] == L"--cancel-at") {
      cancelAt = std::stoull(win::Wide(next()));
      cancelAtName = next();
    } else if (args[i] == L"--stall") {
      tuning.stallTimeoutMs = std::stoul(win::Wide(next()));
    } else if (args[i] == L"--backoff") {
      tuning.firstBackoffMs = std::stoul(win::Wide(next()));
    } else if (args[i] == L"--retries") {
      tuning.retriesPerAddress = std::stoul(win::Wide(next()));
    } else if (args[i] == L"--linger") {
      linger = std::stoul(win::Wide(next()));
    } else {
      return 2;
    }
  }
  win::UniqueFileHandle lock;
  if (!lockPath.empty()) {
    lock.reset(CreateFileW(win::Wide(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!lock) return 3;
  }
  auto reader = CreateSystemUrlReader(tuning);
  Downloader dl(*reader, SystemClock(), SystemEventPump(), FolderOf(GetOwnExePath()));
  host.dl = &dl;
  dl.SetEvents(&host);
  dl.SetHashFileBodies(hash);
  if (hash) {
    dl.SetBodyCheck([](DownloadedFile& body, const std::u16string& savePath) {
      static const char kDigits[] = "0123456789abcdef";
      std::string hex;
      if (const auto digest = body.Digest()) {
        for (const std::uint8_t b : *digest) hex += {kDigits[b >> 4], kDigits[b & 15]};
      }
      Print("sha256 " + Utf16ToUtf8(savePath) + "|" + hex);
      return TransferError();
    });
  }
  const ULONGLONG start = GetTickCount64();
  for (std::size_t g = 0; g + 2 < gets.size(); g += 3)
    Print("begin " +
          Utf16ToUtf8(gets[g] + u"|" + dl.BeginDownload(gets[g + 1], gets[g], gets[g + 2])));
  // The client's message loop: every notification arrives as a posted message.
  for (ULONGLONG idleSince = 0;; MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT)) {
    SystemEventPump().ProcessPendingEvents();
    if (!cancelAtName.empty() && GetTickCount64() - start >= cancelAt) {
      if (dl.RemoveTask(cancelAtName)) Print("cancelled " + Utf16ToUtf8(cancelAtName));
      cancelAtName.clear();
    }
    if (dl.TaskCount() != 0) {
      idleSince = 0;
    } else if (idleSince == 0) {
      idleSince = GetTickCount64();
    } else if (GetTickCount64() - idleSince >= linger) {
      break;
    }
  }
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  Print("elapsed_ms " + Number(static_cast<double>(host.lastCompletion - start)) +
        "\npeak_working_set " + Number(static_cast<double>(counters.PeakWorkingSetSize)));
  return 0;
}

}  // namespace
}  // namespace sealupdate

int wmain(int argc, wchar_t** argv) {
  using namespace sealupdate;
  const Args args(argv + 1, argv + argc);
  if (args.empty()) return 2;
  if (args[0] == L"tray-check") return TrayCheck();
  if (args[0] == L"progress-bar" && args.size() == 2) return ProgressBarHost(args[1]);
  if (args[0] == L"download") return Download(args);
  return Drive(args);
}
