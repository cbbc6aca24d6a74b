// The notification-area icon's Win32 platform: Shell_NotifyIcon and window subclassing.
#include "widgets/tray_icon_win.h"

#include <shellapi.h>

#include <algorithm>

namespace sealupdate {
namespace {

// The portable module names the system's numbers itself; they must be the system's.
static_assert(static_cast<DWORD>(TrayNotify::kAdd) == NIM_ADD &&
              static_cast<DWORD>(TrayNotify::kModify) == NIM_MODIFY &&
              static_cast<DWORD>(TrayNotify::kDelete) == NIM_DELETE);
static_assert(kTrayFieldMessage == NIF_MESSAGE && kTrayFieldIcon == NIF_ICON &&
              kTrayFieldTip == NIF_TIP && kTrayFieldState == NIF_STATE &&
              kTrayFieldBalloon == NIF_INFO);
static_assert(kTrayBalloonInfo == NIIF_INFO && kTrayBalloonError == NIIF_ERROR);
static_assert(kTrayTipUnits * sizeof(WCHAR) == sizeof(NOTIFYICONDATAW::szTip) &&
              kTrayBalloonTextUnits * sizeof(WCHAR) == sizeof(NOTIFYICONDATAW::szInfo) &&
              kTrayBalloonTitleUnits * sizeof(WCHAR) == sizeof(NOTIFYICONDATAW::szInfoTitle));
static_assert(kTrayHide == SW_HIDE && kTrayShowNoActivate == SW_SHOWNOACTIVATE);
static_assert(kTrayCallbackMessage == WM_USER + 1 && kWmSize == WM_SIZE &&
              kSizeMinimized == SIZE_MINIMIZED && kWmClose == WM_CLOSE &&
              kWmNcDestroy == WM_NCDESTROY);
static_assert(kIconLeftDown == WM_LBUTTONDOWN && kIconLeftUp == WM_LBUTTONUP &&
              kIconLeftDoubleClick == WM_LBUTTONDBLCLK && kIconRightDown == WM_RBUTTONDOWN &&
              kIconRightUp == WM_RBUTTONUP);

// The window property that leads the hooked procedure to its module.
constexpr wchar_t kOwnerProperty[] = L"SealUpdate.TrayIcon";

HWND Hwnd(std::uintptr_t window) { return FromTrayHandle<HWND>(window); }

// Copies a text into a fixed field, always terminated (the module has already cut it to fit).
template <std::size_t N>
void CopyField(WCHAR (&field)[N], const std::u16string& text) {
  const std::size_t length = std::min(text.size(), N - 1);
  std::copy_n(text.begin(), length, field);
  field[length] = L'\0';
}

class Win32Tray final : public TrayPlatform {
 public:
  void Notify(TrayNotify action, const TrayIconRecord& record) override {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = Hwnd(record.window);
    data.uID = record.id;
    data.uFlags = record.validFields;
    data.uCallbackMessage = record.callbackMessage;
    data.hIcon = FromTrayHandle<HICON>(record.icon);
    CopyField(data.szTip, record.tip);
    data.dwState = record.state;
    data.dwStateMask = record.stateMask;
    CopyField(data.szInfo, record.balloonText);
    data.uTimeout = record.balloonTimeoutMs;
    CopyField(data.szInfoTitle, record.balloonTitle);
    data.dwInfoFlags = record.balloonIcon;
    Shell_NotifyIconW(static_cast<DWORD>(action), &data);
  }

  std::uintptr_t HookWindow(std::uintptr_t window, TrayIcon& owner) override {
    // An elevated client would otherwise never hear that the taskbar came back.
    ChangeWindowMessageFilterEx(Hwnd(window), TaskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
    SetPropW(Hwnd(window), kOwnerProperty, &owner);
    return static_cast<std::uintptr_t>(
        SetWindowLongPtrW(Hwnd(window), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TrayWndProc)));
  }

  void UnhookWindow(std::uintptr_t window, std::uintptr_t previous) override {
    if (previous != 0)
      SetWindowLongPtrW(Hwnd(window), GWLP_WNDPROC, static_cast<LONG_PTR>(previous));
    RemovePropW(Hwnd(window), kOwnerProperty);
  }

  std::intptr_t CallPrevious(std::uintptr_t previous, std::uintptr_t window, std::uint32_t message,
                             std::uintptr_t wParam, std::intptr_t lParam) override {
    if (previous == 0) return DefWindowProcW(Hwnd(window), message, wParam, lParam);
    return CallWindowProcW(reinterpret_cast<WNDPROC>(previous), Hwnd(window), message, wParam,
                           lParam);
  }

  void SetForegroundWindow(std::uintptr_t window) override { ::SetForegroundWindow(Hwnd(window)); }

  void ShowWindow(std::uintptr_t window, std::int32_t command) override {
    ::ShowWindow(Hwnd(window), command);
  }

  std::u16string WindowCaption(std::uintptr_t window) override {
    const int length = GetWindowTextLengthW(Hwnd(window));
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(Hwnd(window), text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::clamp(copied, 0, length)));
    return win::FromWide(text);
  }

  std::uintptr_t WindowIcon(std::uintptr_t window) override {
    const HWND hwnd = Hwnd(window);
    for (const WPARAM kind : {ICON_SMALL, ICON_BIG}) {
      if (const LRESULT icon = SendMessageW(hwnd, WM_GETICON, kind, 0))
        return static_cast<std::uintptr_t>(icon);
    }
    for (const int index : {GCLP_HICONSM, GCLP_HICON}) {
      if (const ULONG_PTR icon = GetClassLongPtrW(hwnd, index))
        return static_cast<std::uintptr_t>(icon);
    }
    return 0;
  }

  std::optional<TrayRect> TaskbarRect() override {
    const HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    RECT r{};
    if (!taskbar || !GetWindowRect(taskbar, &r)) return std::nullopt;
    return TrayRect{r.left, r.top, r.right, r.bottom};
  }

  std::optional<TrayPoint> CursorPos() override {
    POINT p{};
    if (!GetCursorPos(&p)) return std::nullopt;
    return TrayPoint{p.x, p.y};
  }

  void PopupMenu(std::uintptr_t menu, std::uintptr_t window) override {
    POINT p{};
    GetCursorPos(&p);
    TrackPopupMenu(FromTrayHandle<HMENU>(menu), 0, p.x, p.y, 0, Hwnd(window), nullptr);
    // Lets a menu opened from the notification area close when the user clicks elsewhere
    // next time.
    PostMessageW(Hwnd(window), WM_NULL, 0, 0);
  }

  void PostClose(std::uintptr_t window) override { PostMessageW(Hwnd(window), WM_CLOSE, 0, 0); }

  std::uint32_t TaskbarCreatedMessage() override {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
  }
};

}  // namespace

TrayPlatform& Win32TrayPlatform() {
  static Win32Tray platform;
  return platform;
}

LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // No exception may cross into the system's dispatch.
  auto* owner = static_cast<TrayIcon*>(GetPropW(window, kOwnerProperty));
  if (!owner) return DefWindowProcW(window, message, wParam, lParam);
  try {
    return owner->TrayWindowProc(TrayHandle(window), message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

}  // namespace sealupdate
