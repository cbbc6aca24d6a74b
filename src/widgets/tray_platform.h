// The window and shell services the notification-area icon needs. Handles (windows, menus,
// icons, window procedures) are opaque numbers; the Win32 implementation is tray_icon_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace sealupdate {

// Text fields of the notification-icon record, in UTF-16 units with the terminator.
inline constexpr std::size_t kTrayTipUnits = 128;
inline constexpr std::size_t kTrayBalloonTextUnits = 256;
inline constexpr std::size_t kTrayBalloonTitleUnits = 64;

// The bits of TrayIconRecord::validFields: which of its fields the shell reads.
inline constexpr std::uint32_t kTrayFieldMessage = 0x01;  // callbackMessage
inline constexpr std::uint32_t kTrayFieldIcon = 0x02;     // icon
inline constexpr std::uint32_t kTrayFieldTip = 0x04;      // tip
inline constexpr std::uint32_t kTrayFieldState = 0x08;    // state and stateMask
inline constexpr std::uint32_t kTrayFieldBalloon = 0x10;  // the balloon fields

// The icon a balloon shows (TrayIconRecord::balloonIcon).
inline constexpr std::uint32_t kTrayBalloonInfo = 1;
inline constexpr std::uint32_t kTrayBalloonError = 3;

// The notification-icon record. Its texts are already cut to their fields; its size field is
// the platform's business.
struct TrayIconRecord {
  std::uintptr_t window = 0;  // receives callbackMessage
  std::uint32_t id = 0;       // tells the icons of one window apart
  std::uint32_t validFields = 0;
  std::uint32_t callbackMessage = 0;
  std::uintptr_t icon = 0;
  std::u16string tip;
  std::uint32_t state = 0;
  std::uint32_t stateMask = 0;
  std::u16string balloonText;
  std::uint32_t balloonTimeoutMs = 0;
  std::u16string balloonTitle;
  std::uint32_t balloonIcon = 0;
};

enum class TrayNotify : std::uint32_t { kAdd = 0, kModify = 1, kDelete = 2 };

struct TrayRect {
  std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};
struct TrayPoint {
  std::int32_t x = 0, y = 0;
};

// ShowWindow commands used by the module.
inline constexpr std::int32_t kTrayHide = 0;
inline constexpr std::int32_t kTrayShowNoActivate = 4;

// The window messages the module acts on, with their Win32 numbers, and the argument of each
// that matters.
inline constexpr std::uint32_t kWmSize = 0x0005;
inline constexpr std::uintptr_t kSizeMinimized = 1;  // WM_SIZE's wParam
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmNcDestroy = 0x0082;
// What happened at the icon: the lParam of its callback message.
inline constexpr std::intptr_t kIconLeftDown = 0x0201;
inline constexpr std::intptr_t kIconLeftUp = 0x0202;
inline constexpr std::intptr_t kIconLeftDoubleClick = 0x0203;
inline constexpr std::intptr_t kIconRightDown = 0x0204;
inline constexpr std::intptr_t kIconRightUp = 0x0205;

class TrayIcon;

class TrayPlatform {
 public:
  virtual ~TrayPlatform() = default;
  // Shell_NotifyIcon; its result is of no interest to the module.
  virtual void Notify(TrayNotify action, const TrayIconRecord& record) = 0;
  // Makes the module's window procedure the window's own, its messages going to `owner`;
  // returns the previous procedure.
  virtual std::uintptr_t HookWindow(std::uintptr_t window, TrayIcon& owner) = 0;
  // Puts `previous` back as the window's procedure.
  virtual void UnhookWindow(std::uintptr_t window, std::uintptr_t previous) = 0;
  // Passes a message to `previous` (the default procedure when it is 0) and returns its result.
  virtual std::intptr_t CallPrevious(std::uintptr_t previous, std::uintptr_t window,
                                     std::uint32_t message, std::uintptr_t wParam,
                                     std::intptr_t lParam) = 0;
  virtual void SetForegroundWindow(std::uintptr_t window) = 0;
  virtual void ShowWindow(std::uintptr_t window, std::int32_t command) = 0;
  virtual std::u16string WindowCaption(std::uintptr_t window) = 0;
  // The icon the window shows (its small one when it has one), 0 when it has none.
  virtual std::uintptr_t WindowIcon(std::uintptr_t window) = 0;
  // Screen rectangle of the taskbar; nothing when there is no taskbar.
  virtual std::optional<TrayRect> TaskbarRect() = 0;
  virtual std::optional<TrayPoint> CursorPos() = 0;
  // Pops `menu` up at the mouse position, owned by `window`, with no flags; returns when the
  // menu closes (a nested message loop runs meanwhile).
  virtual void PopupMenu(std::uintptr_t menu, std::uintptr_t window) = 0;
  virtual void PostClose(std::uintptr_t window) = 0;
  // The message the shell broadcasts when the taskbar has been created again (0 when unknown).
  virtual std::uint32_t TaskbarCreatedMessage() = 0;
};

}  // namespace sealupdate
