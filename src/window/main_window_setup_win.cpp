// The main window's set-up on Win32: the DPI it is laid out for, its outer size, the common
// controls and its font.
#include "window/main_window_setup_win.h"

#include <commctrl.h>

#include "window/layout.h"

namespace sealupdate {

namespace {

// Per-monitor DPI functions exist from Windows 10 on; older systems use the system DPI.
template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

}  // namespace

int SystemDpi() {
  const win::WindowDc screen(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen.get(), LOGPIXELSX) : 96;
  return dpi > 0 ? dpi : 96;
}

int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = User32Function<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow && hwnd) {
    const UINT dpi = getDpiForWindow(hwnd);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return SystemDpi();
}

SIZE WindowSizeFor(int dpi, DWORD style) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  RECT r{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
  if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, 0, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(&r, style, FALSE, 0);
  }
  return SIZE{r.right - r.left, r.bottom - r.top};
}

void LoadCommonControls() {
  // Loaded at run time so that a system without the function still starts; from the system
  // folder only (the active context still selects version 6).
  HMODULE comctl = LoadLibraryExW(L"comctl32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!comctl) return;
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
  if (!init) return;
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES;
  init(&icc);
}

win::UniqueFont CreateWindowFont(int dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  LOGFONTW font{};
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    font = metrics.lfMessageFont;
  } else {
    lstrcpynW(font.lfFaceName, L"Tahoma", LF_FACESIZE);
  }
  font.lfHeight = FontHeightPixels(kFontSizeHundredthsPt, dpi);
  font.lfWidth = 0;
  font.lfWeight = FW_NORMAL;
  font.lfItalic = FALSE;
  font.lfCharSet = DEFAULT_CHARSET;
  return win::UniqueFont(CreateFontIndirectW(&font));
}
}  // namespace sealupdate
