#include "window/frm_main_win.h"

#include <exception>
#include <memory>
#include <vector>

#include "base/text.h"
#include "download/downloader.h"
#include "model/pe_info.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/win32.h"
// After <windows.h>:
#include <shellapi.h>

#include "startup/mmain_win.h"
#include "startup/startup.h"
#include "widgets/progress_bar_win.h"
#include "widgets/tray_icon.h"
#include "widgets/tray_icon_win.h"
#include "window/frm_main.h"
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

// The Win32 window: creates the controls and shows what the flow tells it to.
class MainWindow final : public FrmMainView {
 public:
  HWND hwnd = nullptr;
  std::int32_t mode = 0;
  int dpi = 96;
  win::UniqueFont font;
  win::UniqueIcon smallIcon;
  win::UniqueMenu menuBar;  // holds mnuFile; never attached, so no menu bar shows
  HMENU mnuFile = nullptr;
  std::unique_ptr<UrlReader> reader;
  std::unique_ptr<Downloader> Downloader1;
  std::unique_ptr<FrmMain> flow;

  bool Create(HINSTANCE instance);
  void ApplyLayout();
  HWND Control(int id) const { return GetDlgItem(hwnd, id); }
  void SetControlText(int id, std::u16string_view text);
  std::u16string ControlText(int id) const;
  ProgressBar* ProgressBar1() const { return ProgressBarOf(Control(kProgressBar1Id)); }
  void Form_Unload();

  // FrmMainView
  void SetTitle(const std::u16string& title) override;
  std::u16string Cmd1Caption(int index) override { return ControlText(kCmd1BaseId + index); }
  void SetCmd1Caption(int index, const std::u16string& caption) override {
    SetControlText(kCmd1BaseId + index, caption);
  }
  std::u16string Lbl1Caption(int index) override { return ControlText(kLbl1BaseId + index); }
  void SetLbl1Caption(int index, const std::u16string& caption) override {
    SetControlText(kLbl1BaseId + index, caption);
  }
  void SetText1(const std::u16string& text) override { SetControlText(kText1Id, text); }
  void SetProgressMax(std::int32_t max) override {
    if (ProgressBar* bar = ProgressBar1()) bar->SetMax(max);
  }
  void SetProgressValue(std::int32_t value) override {
    if (ProgressBar* bar = ProgressBar1()) bar->SetValue(value);
  }
  void PlaceCentered() override;
  void PlaceOffscreen() override;
  void SetSmallIconFromOwnExe() override;
  void AddTrayIcon() override;
  void ShowTrayBalloon(const std::u16string& title, const std::u16string& text,
                       TrayIconKind icon) override;
  void RemoveTrayIcon(bool close) override { TrayIconModule().RemoveTrayIcon(close); }
  void RestoreWindow() override { TrayIconModule().RestoreWindow(TrayHandle(hwnd)); }
  MessageAnswer ShowMessage(const std::u16string& text, const std::u16string& title,
                            MessageButtons buttons, MessageIcon icon) override;
  ShellResult ShellOpen(const std::u16string& file, int showCommand) override;
  void UnloadWindow() override { DestroyWindow(hwnd); }

 private:
  void CreateControls(HINSTANCE instance);
  void SizeLabelToText(HWND label, const ControlLayout& layout);
};

MainWindow gFrmMain;

const ControlLayout* LayoutOf(int id) {
  for (const auto& c : kControls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

void MainWindow::CreateControls(HINSTANCE instance) {
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
        cls = kProgressBarClassName;
        break;
    }
    CreateWindowExW(exStyle, cls, win::Wide(c.caption).c_str(), style, 0, 0, 0, 0, hwnd,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, nullptr);
  }
  if (ProgressBar* bar = ProgressBar1()) {
    // The settings the window keeps for its bar.
    bar->SetStyle(0);
    bar->SetShowType(5);
    bar->SetBorderH(5);
    bar->SetBorderV(5);
    bar->SetMin(0);
    bar->SetMax(100);
    bar->SetValue(0);
  }
}

void MainWindow::SizeLabelToText(HWND label, const ControlLayout& layout) {
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

void MainWindow::ApplyLayout() {
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

void MainWindow::SetControlText(int id, std::u16string_view text) {
  HWND control = Control(id);
  SetWindowTextW(control, win::Wide(text).c_str());
  if (const ControlLayout* layout = LayoutOf(id); layout && layout->kind == ControlKind::Label) {
    SizeLabelToText(control, *layout);
  }
}

std::u16string MainWindow::ControlText(int id) const {
  HWND control = Control(id);
  const int length = GetWindowTextLengthW(control);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
  return win::FromWide(text);
}

void MainWindow::SetTitle(const std::u16string& title) {
  SetWindowTextW(hwnd, win::Wide(title).c_str());
}

void MainWindow::PlaceCentered() {
  RECT r{};
  GetWindowRect(hwnd, &r);
  const int left = GetSystemMetrics(SM_CXSCREEN) / 2 - (r.right - r.left) / 2;
  const int top = GetSystemMetrics(SM_CYSCREEN) / 2 - (r.bottom - r.top) / 2;
  SetWindowPos(hwnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::PlaceOffscreen() {
  const int offscreen = TwipsToPixels(kOffscreenTwips, dpi);
  SetWindowPos(hwnd, nullptr, offscreen, offscreen, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::SetSmallIconFromOwnExe() {
  std::u16string iconFile;
  smallIcon.reset(SetWindowIconFromFile(hwnd, iconFile, 0));
}

void MainWindow::AddTrayIcon() {
  mTrayIcon& tray = TrayIconModule();
  tray.AddTrayIcon(TrayHandle(hwnd), kToolTipPlaceholder, 0, TrayHandle(mnuFile));
  tray.SetTrayIcon(TrayHandle(smallIcon.get()));
}

void MainWindow::ShowTrayBalloon(const std::u16string& title, const std::u16string& text,
                                 TrayIconKind icon) {
  TrayIconModule().ShowTrayBalloon(kToolTipPlaceholder, title, text,
                                   static_cast<std::uint32_t>(icon), 0);
}

MessageAnswer MainWindow::ShowMessage(const std::u16string& text, const std::u16string& title,
                                      MessageButtons buttons, MessageIcon icon) {
  UINT type = buttons == MessageButtons::YesNo ? MB_YESNO : MB_OK;
  switch (icon) {
    case MessageIcon::Information:
      type |= MB_ICONINFORMATION;
      break;
    case MessageIcon::Question:
      type |= MB_ICONQUESTION;
      break;
    case MessageIcon::Error:
      type |= MB_ICONERROR;
      break;
  }
  // A hidden (mode 2) window would park its message box off-screen with it.
  HWND owner = IsWindowVisible(hwnd) ? hwnd : nullptr;
  if (!owner) type |= MB_TASKMODAL | MB_SETFOREGROUND;
  const int answer = MessageBoxW(owner, win::Wide(text).c_str(), win::Wide(title).c_str(), type);
  if (answer == IDYES) return MessageAnswer::Yes;
  if (answer == IDNO) return MessageAnswer::No;
  return MessageAnswer::Ok;
}

ShellResult MainWindow::ShellOpen(const std::u16string& file, int showCommand) {
  const auto code = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", win::Wide(file).c_str(), L"", L"", showCommand));
  if (code > 32) return {};
  ShellResult result{false, {}};
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      result.reason = u"找不到该文件。";
      break;
    case SE_ERR_NOASSOC:
      result.reason = u"没有与该文件类型关联的程序。";
      break;
    case SE_ERR_ACCESSDENIED:
      result.reason = u"拒绝访问。";
      break;
    default: {
      wchar_t* message = nullptr;
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, GetLastError(), 0, reinterpret_cast<LPWSTR>(&message), 0, nullptr);
      result.reason =
          message ? win::FromWide(message) : u"错误 " + Utf8ToUtf16(std::to_string(code));
      if (message) LocalFree(message);
    }
  }
  return result;
}

void MainWindow::Form_Unload() {
  if (flow) flow->Form_Unload();
  gUpdateInfo.reset();
  // Ends the program at once, whatever is still pending (reads blocked on a server included).
  ExitProcess(0);
}

// No exception may cross the window procedure: report it and carry on.
template <typename Fn>
void Guarded(Fn&& fn) {
  try {
    fn();
  } catch (const std::exception& e) {
    MessageBoxW(gFrmMain.hwnd, win::Wide(Utf8ToUtf16(e.what())).c_str(), L"错误",
                MB_OK | MB_ICONERROR);
  }
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
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (!gFrmMain.flow) break;
      if (HIWORD(wParam) == BN_CLICKED && (id == kCmd1BaseId || id == kCmd1BaseId + 1)) {
        Guarded([&] { gFrmMain.flow->cmd1_Click(id - kCmd1BaseId); });
        return 0;
      }
      if (id == kMnuFileShowFormId) {
        Guarded([] { gFrmMain.flow->mnuFile_ShowForm_Click(); });
        return 0;
      }
      if (id == kMnuFileExitId) {
        Guarded([] { gFrmMain.flow->mnuFile_Exit_Click(); });
        return 0;
      }
      break;
    }
    case WM_DESTROY:
      gFrmMain.Form_Unload();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

bool MainWindow::Create(HINSTANCE instance) {
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

  RegisterProgressBarClass();
  CreateControls(instance);
  ApplyLayout();
  return true;
}

}  // namespace

int RunMainWindow(std::int32_t mode) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  MainWindow& form = gFrmMain;
  form.mode = mode;
  if (!form.Create(instance)) return 1;

  form.reader = CreateSystemUrlReader();
  form.Downloader1 = std::make_unique<Downloader>(*form.reader, SystemClock(), SystemEventPump(),
                                                  FolderOf(GetOwnExePath()));
  form.flow = std::make_unique<FrmMain>(form, *gUpdateInfo, *form.Downloader1, mode,
                                        [](const std::u16string& path) {
                                          std::u16string file = path;
                                          PEFileInfo info;
                                          mGetPEInfo::GetPEInfo(file, info);
                                          return info.FileVersion;
                                        });
  form.Downloader1->SetEvents(form.flow.get());
  gUpdateInfo->SetCheckUpdateHandler([] { Guarded([] { gFrmMain.flow->CheckUpdate(); }); });

  Guarded([&] { form.flow->Form_Load(); });
  if (mode <= 1) ShowWindow(form.hwnd, SW_SHOW);

  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(form.hwnd, &msg)) continue;  // Tab moves between the controls
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace sealupdate
