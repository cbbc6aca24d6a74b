// The main window on Win32: controls, layout by DPI, tray menu, message boxes, the shell.
#include "window/main_window_win.h"

#include <exception>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "base/text.h"
#include "download/downloader.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/win32.h"
// After <windows.h>:
#include <commctrl.h>
#include <shellapi.h>

#include "widgets/progress_bar_win.h"
#include "widgets/tray_icon.h"
#include "widgets/tray_icon_win.h"
#include "window/layout.h"
#include "window/main_window_setup_win.h"
#include "window/update_flow.h"

namespace sealupdate {
namespace {

constexpr wchar_t kWindowClass[] = L"SealUpdate.MainWindow";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

// The Win32 window: creates the controls and shows what the flow tells it to.
class Win32MainWindow final : public MainWindow {
 public:
  explicit Win32MainWindow(UpdateMode mode) : mode_(mode) {}
  ~Win32MainWindow() override {
    flow_ = nullptr;  // the flow may already be gone
    if (hwnd_) DestroyWindow(hwnd_);
  }

  bool Create(HINSTANCE instance);
  void Attach(UpdateFlow& flow) override { flow_ = &flow; }
  int Run() override;

  void SetTitle(const std::u16string& title) override;
  void ShowStage(Stage stage) override { SetControlText(kPrimaryButtonId, PrimaryCaption(stage)); }
  void SetStatus(const std::u16string& text) override { SetControlText(kStatusLabelId, text); }
  void SetSpeed(const std::u16string& text) override { SetControlText(kSpeedLabelId, text); }
  void SetRemaining(const std::u16string& text) override {
    SetControlText(kRemainingLabelId, text);
  }
  void SetNotes(const std::u16string& text) override { SetControlText(kNotesId, text); }
  void SetProgress(std::int32_t value, std::int32_t max) override {
    progressValue_ = value;
    progressMax_ = max;
    if (ProgressBar* bar = ProgressBarOf(Control(kProgressBarId))) {
      bar->SetMax(max);
      bar->SetValue(value);
    }
  }
  void PlaceCentered() override;
  void PlaceOffscreen() override;
  void UseOwnIcon() override;
  void AddTrayIcon() override;
  void ShowTrayBalloon(const std::u16string& title, const std::u16string& text,
                       TrayIconKind icon) override;
  void RemoveTrayIcon(bool close) override { tray_.RemoveTrayIcon(close); }
  void RestoreWindow() override {
    PrepareToShow();
    tray_.RestoreWindow(TrayHandle(hwnd_));
  }
  MessageAnswer ShowMessage(const std::u16string& text, const std::u16string& title,
                            MessageButtons buttons, MessageIcon icon) override;
  ShellResult ShellOpen(const std::u16string& target, int showCommand) override;
  void Close() override {
    if (hwnd_) DestroyWindow(hwnd_);
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Runs a handler of the flow; no exception may cross the window procedure.
  template <typename Fn>
  void Guarded(Fn&& fn);
  // Until the window is about to be shown it has no controls, font, icon or visual styles (a
  // silent check that ends unseen never pays for them); what the flow shows meanwhile waits in
  // texts_ and the progress fields. Idempotent.
  void PrepareToShow();
  void ApplyOwnIcon();
  void CreateControls();
  void ApplyLayout();
  void SizeLabelToText(HWND label, const ControlLayout& layout);
  HWND Control(int id) const { return GetDlgItem(hwnd_, id); }
  void SetControlText(int id, std::u16string_view text);

  HWND hwnd_ = nullptr;
  HINSTANCE instance_ = nullptr;
  UpdateMode mode_ = UpdateMode::Manual;
  bool prepared_ = false;
  bool ownIconWanted_ = false;
  // By the index of the control in kControls: its text when the flow has set one.
  std::optional<std::u16string> texts_[std::size(kControls)];
  std::int32_t progressValue_ = 0;
  std::int32_t progressMax_ = 100;
  // Active from PrepareToShow on; outlives the windows made under it (destroyed in the body of
  // the destructor).
  win::ActiveContext controlsContext_;
  int dpi_ = 96;
  UpdateFlow* flow_ = nullptr;
  win::UniqueFont font_;
  win::UniqueIcon smallIcon_;
  win::UniqueMenu menuBar_;  // owns the tray menu; never attached, so no menu bar shows
  HMENU trayMenu_ = nullptr;
  TrayIcon tray_{Win32TrayPlatform()};
};

std::size_t IndexOf(int id) {
  std::size_t i = 0;
  while (i < std::size(kControls) && kControls[i].id != id) ++i;
  return i;
}

void Win32MainWindow::PrepareToShow() {
  if (prepared_ || !hwnd_) return;
  prepared_ = true;
  controlsContext_ =
      win::ActiveContext(instance_, win::Wide(GetOwnExePath()).c_str(), kControlsManifestId);
  LoadCommonControls();
  RegisterProgressBarClass();
  CreateControls();
  ApplyLayout();
  if (ownIconWanted_) ApplyOwnIcon();
}

void Win32MainWindow::CreateControls() {
  for (std::size_t i = 0; i < std::size(kControls); ++i) {
    const ControlLayout& c = kControls[i];
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
    const std::u16string_view caption =
        texts_[i] ? std::u16string_view(*texts_[i]) : std::u16string_view(c.caption);
    CreateWindowExW(exStyle, cls, win::Wide(caption).c_str(), style, 0, 0, 0, 0, hwnd_,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance_, nullptr);
  }
  if (ProgressBar* bar = ProgressBarOf(Control(kProgressBarId))) {
    // The settings the window keeps for its bar.
    bar->SetStyle(0);
    bar->SetShowType(5);
    bar->SetBorderH(5);
    bar->SetBorderV(5);
    bar->SetMin(0);
    bar->SetMax(progressMax_);
    bar->SetValue(progressValue_);
  }
}

void Win32MainWindow::SizeLabelToText(HWND label, const ControlLayout& layout) {
  // Labels grow to the right from their fixed left edge, to the width of their text.
  wchar_t buffer[512] = {};
  const int length = GetWindowTextW(label, buffer, 512);
  SIZE extent{};
  if (const win::WindowDc dc(label); dc) {
    const win::SelectedObject selected(dc.get(), font_.get());
    GetTextExtentPoint32W(dc.get(), buffer, length, &extent);
  }
  const int height = TwipsToPixels(layout.height, dpi_);
  SetWindowPos(label, nullptr, TwipsToPixels(layout.left, dpi_), TwipsToPixels(layout.top, dpi_),
               extent.cx, height > extent.cy ? height : extent.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32MainWindow::ApplyLayout() {
  if (!prepared_) return;  // made at the new DPI when the window is prepared
  font_ = CreateWindowFont(dpi_);
  for (const auto& c : kControls) {
    HWND control = Control(c.id);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
    if (c.kind == ControlKind::Label) {
      SizeLabelToText(control, c);
    } else {
      SetWindowPos(control, nullptr, TwipsToPixels(c.left, dpi_), TwipsToPixels(c.top, dpi_),
                   TwipsToPixels(c.width, dpi_), TwipsToPixels(c.height, dpi_),
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void Win32MainWindow::SetControlText(int id, std::u16string_view text) {
  const std::size_t index = IndexOf(id);
  if (index == std::size(kControls)) return;
  texts_[index] = std::u16string(text);
  if (!prepared_) return;
  HWND control = Control(id);
  SetWindowTextW(control, win::Wide(text).c_str());
  if (kControls[index].kind == ControlKind::Label) SizeLabelToText(control, kControls[index]);
}

void Win32MainWindow::SetTitle(const std::u16string& title) {
  SetWindowTextW(hwnd_, win::Wide(title).c_str());
}

void Win32MainWindow::PlaceCentered() {
  RECT r{};
  GetWindowRect(hwnd_, &r);
  const int left = GetSystemMetrics(SM_CXSCREEN) / 2 - (r.right - r.left) / 2;
  const int top = GetSystemMetrics(SM_CYSCREEN) / 2 - (r.bottom - r.top) / 2;
  SetWindowPos(hwnd_, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::PlaceOffscreen() {
  const int offscreen = TwipsToPixels(kOffscreenTwips, dpi_);
  SetWindowPos(hwnd_, nullptr, offscreen, offscreen, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32MainWindow::UseOwnIcon() {
  ownIconWanted_ = true;
  if (prepared_) ApplyOwnIcon();
}

void Win32MainWindow::ApplyOwnIcon() {
  HICON icon = ExtractIconW(GetModuleHandleW(nullptr), win::Wide(GetOwnExePath()).c_str(), 0);
  if (icon == reinterpret_cast<HICON>(1)) icon = nullptr;  // "not an executable file"
  smallIcon_.reset(icon);
  SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void Win32MainWindow::AddTrayIcon() {
  PrepareToShow();
  tray_.AddTrayIcon(TrayHandle(hwnd_), kToolTipPlaceholder, 0, TrayHandle(trayMenu_));
  tray_.SetTrayIcon(TrayHandle(smallIcon_.get()));
}

void Win32MainWindow::ShowTrayBalloon(const std::u16string& title, const std::u16string& text,
                                      TrayIconKind icon) {
  PrepareToShow();
  tray_.ShowTrayBalloon(kToolTipPlaceholder, title, text, static_cast<std::uint32_t>(icon), 0);
}

MessageAnswer Win32MainWindow::ShowMessage(const std::u16string& text, const std::u16string& title,
                                           MessageButtons buttons, MessageIcon icon) {
  PrepareToShow();  // the box takes its look from the active context
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
  // A window hidden by the silent mode would park its message box off-screen with it.
  HWND owner = IsWindowVisible(hwnd_) ? hwnd_ : nullptr;
  if (!owner) type |= MB_TASKMODAL | MB_SETFOREGROUND;
  const int answer = MessageBoxW(owner, win::Wide(text).c_str(), win::Wide(title).c_str(), type);
  if (answer == IDYES) return MessageAnswer::Yes;
  if (answer == IDNO) return MessageAnswer::No;
  return MessageAnswer::Ok;
}

ShellResult Win32MainWindow::ShellOpen(const std::u16string& target, int showCommand) {
  const auto code = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", win::Wide(target).c_str(), L"", L"", showCommand));
  if (code > 32) return {};
  ShellResult result{false, {}, static_cast<int>(code)};
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
      wchar_t* buffer = nullptr;
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                         FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, GetLastError(), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
      const win::UniqueLocalMemory message(buffer);
      result.reason = buffer ? win::FromWide(buffer) : u"错误 " + Utf8ToUtf16(std::to_string(code));
    }
  }
  return result;
}

template <typename Fn>
void Win32MainWindow::Guarded(Fn&& fn) {
  if (!flow_) return;
  try {
    fn();
  } catch (const std::exception& e) {
    MessageBoxW(hwnd_, win::Wide(Utf8ToUtf16(e.what())).c_str(), L"错误", MB_OK | MB_ICONERROR);
  } catch (...) {
    MessageBoxW(hwnd_, L"内部错误", L"错误", MB_OK | MB_ICONERROR);
  }
}

LRESULT CALLBACK Win32MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    // The owner rides along in the creation parameters and stays in the window's user data.
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    auto* self = static_cast<Win32MainWindow*>(create->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT Win32MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORSTATIC: {
      // Labels show the window face through them.
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_DPICHANGED: {
      dpi_ = HIWORD(wParam);
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyLayout();
      return 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const bool clicked = HIWORD(wParam) == BN_CLICKED;
      if (clicked && id == kPrimaryButtonId) {
        Guarded([this] { flow_->OnPrimaryButton(); });
      } else if (clicked && id == kHomePageButtonId) {
        Guarded([this] { flow_->OnHomePageButton(); });
      } else if (id == kTrayMenuShowId) {
        Guarded([this] { flow_->OnTrayShow(); });
      } else if (id == kTrayMenuExitId) {
        Guarded([this] { flow_->OnTrayExit(); });
      } else {
        break;
      }
      return 0;
    }
    case WM_DESTROY:
      Guarded([this] { flow_->OnClose(); });
      flow_ = nullptr;
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      // The loop ends and the owner tears everything down; reads still blocked on a server
      // are abandoned with the process.
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

bool Win32MainWindow::Create(HINSTANCE instance) {
  instance_ = instance;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Win32MainWindow::WindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(
      LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc)) return false;

  const int systemDpi = SystemDpi();
  const SIZE size = WindowSizeFor(systemDpi, kWindowStyle);
  CreateWindowExW(0, kWindowClass, win::Wide(kDefaultTitle).c_str(), kWindowStyle, CW_USEDEFAULT,
                  CW_USEDEFAULT, size.cx, size.cy, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  // The monitor the window landed on may differ from the system DPI.
  dpi_ = WindowDpi(hwnd_);
  if (dpi_ != systemDpi) {
    const SIZE scaled = WindowSizeFor(dpi_, kWindowStyle);
    SetWindowPos(hwnd_, nullptr, 0, 0, scaled.cx, scaled.cy, SWP_NOMOVE | SWP_NOZORDER);
  }

  menuBar_.reset(CreateMenu());
  trayMenu_ = CreatePopupMenu();
  AppendMenuW(trayMenu_, MF_STRING, kTrayMenuShowId, win::Wide(kTrayMenuShowCaption).c_str());
  AppendMenuW(trayMenu_, MF_STRING, kTrayMenuExitId, win::Wide(kTrayMenuExitCaption).c_str());
  AppendMenuW(menuBar_.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(trayMenu_),
              win::Wide(kTrayMenuCaption).c_str());

  if (ShowsWindowAtStart(mode_)) PrepareToShow();  // shown as soon as the flow has started
  return true;
}

int Win32MainWindow::Run() {
  Guarded([this] { flow_->Start(); });
  if (hwnd_ && ShowsWindowAtStart(mode_)) ShowWindow(hwnd_, SW_SHOW);
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;  // Tab moves between the controls
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

}  // namespace

std::unique_ptr<MainWindow> MainWindow::Create(UpdateMode mode) {
  auto window = std::make_unique<Win32MainWindow>(mode);
  if (!window->Create(GetModuleHandleW(nullptr))) return nullptr;
  return window;
}

}  // namespace sealupdate
