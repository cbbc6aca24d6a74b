#include "window/frm_main_win.h"

#include <vector>

#include "platform/win32.h"
#include "startup/mmain_win.h"
#include "startup/startup.h"
#include "window/layout.h"

namespace sealupdate {
namespace {

constexpr wchar_t kWindowClass[] = L"sealupdate.frmMain";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// Per-monitor DPI functions exist from Windows 10 on; older systems use the system DPI.
template <typename Fn>
Fn User32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  return user32 ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(user32, name)))
                : nullptr;
}

int SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
  if (screen) ReleaseDC(nullptr, screen);
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

// Outer window size for the designed client area at `dpi`.
SIZE WindowSizeFor(int dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto adjustForDpi = User32Function<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  RECT r{0, 0, TwipsToPixels(kClientWidthTwips, dpi), TwipsToPixels(kClientHeightTwips, dpi)};
  if (!adjustForDpi || !adjustForDpi(&r, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi))) {
    AdjustWindowRectEx(&r, kWindowStyle, FALSE, 0);
  }
  return SIZE{r.right - r.left, r.bottom - r.top};
}

// The system's message font face (the UI font for the user's language, which covers its
// script) at the window's designed size.
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

class FrmMain {
 public:
  HWND hwnd = nullptr;
  std::int32_t mode = 0;
  int dpi = 96;
  win::UniqueFont font;
  win::UniqueIcon smallIcon;
  win::UniqueMenu menuBar;  // holds mnuFile; never attached, so no menu bar shows
  HMENU mnuFile = nullptr;

  bool Create(HINSTANCE instance);
  void Form_Load();
  void Form_Unload();
  void ApplyLayout();
  HWND Control(int id) const { return GetDlgItem(hwnd, id); }
  void SetControlText(int id, std::u16string_view text);

 private:
  void CreateControls(HINSTANCE instance);
  void SizeLabelToText(HWND label, const ControlLayout& layout);
};

FrmMain gFrmMain;

const ControlLayout* LayoutOf(int id) {
  for (const auto& c : kControls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

void FrmMain::CreateControls(HINSTANCE instance) {
  for (const auto& c : kControls) {
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD exStyle = 0;
    switch (c.kind) {
      case ControlKind::TextBox:
        cls = L"EDIT";
        style |= WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
        exStyle = WS_EX_CLIENTEDGE;
        break;
      case ControlKind::Label:
        style |= SS_LEFT | SS_NOPREFIX;
        break;
      case ControlKind::Button:
        style |= WS_TABSTOP | BS_PUSHBUTTON;
        cls = L"BUTTON";
        break;
      case ControlKind::ProgressBar:
        // Drawn by the owner-drawn bar once its class is registered; until then a plain frame.
        style |= SS_SUNKEN;
        break;
    }
    CreateWindowExW(exStyle, cls, win::Wide(c.caption).c_str(), style, 0, 0, 0, 0, hwnd,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
  }
}

void FrmMain::SizeLabelToText(HWND label, const ControlLayout& layout) {
  // Labels grow to the right from their fixed left edge, to the width of their text.
  wchar_t buffer[512] = {};
  const int length = GetWindowTextW(label, buffer, 512);
  HDC dc = GetDC(label);
  HGDIOBJ old = SelectObject(dc, font.get());
  SIZE extent{};
  GetTextExtentPoint32W(dc, buffer, length, &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  const int height = TwipsToPixels(layout.height, dpi);
  SetWindowPos(label, nullptr, TwipsToPixels(layout.left, dpi), TwipsToPixels(layout.top, dpi),
               extent.cx, height > extent.cy ? height : extent.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd, nullptr, TRUE);
}

void FrmMain::ApplyLayout() {
  font = CreateWindowFont(dpi);
  for (const auto& c : kControls) {
    HWND control = Control(c.id);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
    if (c.kind == ControlKind::Label) {
      SizeLabelToText(control, c);
    } else {
      SetWindowPos(control, nullptr, TwipsToPixels(c.left, dpi), TwipsToPixels(c.top, dpi),
                   TwipsToPixels(c.width, dpi), TwipsToPixels(c.height, dpi),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  InvalidateRect(hwnd, nullptr, TRUE);
}

void FrmMain::SetControlText(int id, std::u16string_view text) {
  HWND control = Control(id);
  SetWindowTextW(control, win::Wide(text).c_str());
  if (const ControlLayout* layout = LayoutOf(id); layout && layout->kind == ControlKind::Label) {
    SizeLabelToText(control, *layout);
  }
}

void FrmMain::Form_Load() {
  SetWindowTextW(hwnd, win::Wide(MainWindowTitle(gUpdateInfo->SoftName())).c_str());
  SetControlText(kText1Id, gUpdateInfo->UpdateText());
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  int left = 0;
  int top = 0;
  if (mode == 2) {
    left = top = TwipsToPixels(kOffscreenTwips, dpi);
  } else {
    left = GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2;
    top = GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2;
  }
  SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  std::u16string iconFile;
  smallIcon.reset(SetWindowIconFromFile(hwnd, iconFile, 0));
}

void FrmMain::Form_Unload() {
  gUpdateInfo.reset();
  PostQuitMessage(0);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // Labels show the window face through them.
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DPICHANGED: {
      gFrmMain.dpi = HIWORD(wParam);
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      gFrmMain.ApplyLayout();
      return 0;
    }
    case WM_DESTROY:
      gFrmMain.Form_Unload();
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

bool FrmMain::Create(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return false;

  const int systemDpi = SystemDpi();
  const SIZE size = WindowSizeFor(systemDpi);
  hwnd = CreateWindowExW(0, kWindowClass, win::Wide(kDesignedTitle).c_str(), kWindowStyle,
                         CW_USEDEFAULT, CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance,
                         nullptr);
  if (!hwnd) return false;
  // The monitor the window landed on may differ from the system DPI.
  dpi = WindowDpi(hwnd);
  if (dpi != systemDpi) {
    const SIZE scaled = WindowSizeFor(dpi);
    SetWindowPos(hwnd, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER);
  }

  menuBar.reset(CreateMenu());
  mnuFile = CreatePopupMenu();
  AppendMenuW(mnuFile, MF_STRING, kMnuFileShowFormId, win::Wide(kMnuFileShowFormCaption).c_str());
  AppendMenuW(mnuFile, MF_STRING, kMnuFileExitId, win::Wide(kMnuFileExitCaption).c_str());
  AppendMenuW(menuBar.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(mnuFile),
              win::Wide(kMnuFileCaption).c_str());

  CreateControls(instance);
  ApplyLayout();
  return true;
}

}  // namespace

int RunMainWindow(std::int32_t mode) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  gFrmMain.mode = mode;
  if (!gFrmMain.Create(instance)) return 1;
  gFrmMain.Form_Load();
  if (mode <= 1) ShowWindow(gFrmMain.hwnd, SW_SHOW);

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(gFrmMain.hwnd, &msg)) continue;  // Tab moves between the controls
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace sealupdate
