// Hosts one progress bar for the Wine screenshot test: a top-level window titled TITLE with the
// bar at its designed size, driven to 50 %. When the bar is on the screen it writes REPORT
// (UTF-8 lines: "bar=x,y,w,h" in screen pixels, "events=..." raised by the value change and a
// click, "model=" 1 when the window class hands out its model only for its own windows), then runs
// until the window is closed.
//
//   progress_bar_host TITLE REPORT
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/win32.h"
#include "widgets/progress_bar_win.h"

namespace {

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const int argc = __argc;
  wchar_t** argv = __wargv;
  if (!argv || argc != 3) return 2;
  if (!sealupdate::RegisterProgressBarClass()) return 1;

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = HostProc;
  wc.hInstance = instance;
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = L"sealupdate.ProgressBarHost";
  if (!RegisterClassExW(&wc)) return 1;
  HWND host = CreateWindowExW(0, wc.lpszClassName, argv[1], WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
                              100, 100, 320, 120, nullptr, nullptr, instance, nullptr);
  // 3465 x 405 twips, the size of a newly placed bar, at the prefix's 96 DPI.
  HWND bar = CreateWindowExW(0, sealupdate::kProgressBarClassName, L"", WS_CHILD | WS_VISIBLE, 20,
                             20, 231, 27, host, nullptr, instance, nullptr);
  if (!host || !bar) return 1;
  SendMessageW(bar, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);

  sealupdate::ProgressBar* model = sealupdate::ProgressBarOf(bar);
  if (!model) return 1;
  std::string events;
  model->events.Change = [&events] { events += "Change,"; };
  model->events.NowIsMax = [&events] { events += "NowIsMax,"; };
  ShowWindow(host, SW_SHOW);
  UpdateWindow(host);
  model->SetMax(100);
  model->SetValue(50);
  // A click at pixel (10, 5) reaches the owner as twips.
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
  SendMessageW(bar, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(10, 5));
  SendMessageW(bar, WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(10, 5));

  RECT r{};
  GetWindowRect(bar, &r);
  char text[512];
  std::snprintf(text, sizeof text, "bar=%ld,%ld,%ld,%ld\nevents=%s\nmodel=%d\n", r.left, r.top,
                r.right - r.left, r.bottom - r.top, events.c_str(),
                sealupdate::ProgressBarOf(host) == nullptr ? 1 : 0);
  // Written to a temporary name and renamed, so the reader never sees half a report.
  const std::wstring report = argv[2];
  const std::wstring partial = report + L".part";
  if (FILE* f = _wfopen(partial.c_str(), L"wb")) {
    std::fputs(text, f);
    std::fclose(f);
    MoveFileExW(partial.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING);
  }

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return 0;
}
