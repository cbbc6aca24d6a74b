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
inline constexpr std::size_t kTrayInfoUnits = 256;
inline constexpr std::size_t kTrayInfoTitleUnits = 64;

// The notification-icon record. Its texts are already cut to their fields; its size field is
// the platform's business.
struct TrayIconRecord {
  std::uintptr_t hWnd = 0;
  std::uint32_t uID = 0;
  std::uint32_t uFlags = 0;
  std::uint32_t uCallbackMessage = 0;
  std::uintptr_t hIcon = 0;
  std::u16string szTip;
  std::uint32_t dwState = 0;
  std::uint32_t dwStateMask = 0;
  std::u16string szInfo;
  std::uint32_t uTimeout = 0;
  std::u16string szInfoTitle;
  std::uint32_t dwInfoFlags = 0;
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
