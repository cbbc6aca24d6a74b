// TrayIcon: one notification-area icon for one window, its balloon messages, and the hook on
// the window's messages that restores the window or pops a menu up on clicks at the icon, hides
// the minimized window into the notification area and removes the icon when the window closes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "widgets/tray_platform.h"

namespace sealupdate {

// Passed as tooltip text: the window caption in AddTrayIcon, the tooltip unchanged in
// ShowTrayBalloon.
inline constexpr std::u16string_view kToolTipPlaceholder = u"[ToolTipText]";

// The message the icon's events come to the window in: WM_USER + 1.
inline constexpr std::uint32_t kTrayCallbackMessage = 0x0401;
// The fields an added or modified record carries, and those a deletion carries.
inline constexpr std::uint32_t kTrayFieldsAdd =
    kTrayFieldMessage | kTrayFieldIcon | kTrayFieldTip | kTrayFieldState | kTrayFieldBalloon;
inline constexpr std::uint32_t kTrayFieldsDelete =
    kTrayFieldMessage | kTrayFieldIcon | kTrayFieldTip;

// `text` cut to a field of `fieldUnits` UTF-16 units including the terminator, never between
// the two halves of a surrogate pair.
std::u16string CutToField(std::u16string_view text, std::size_t fieldUnits);

class TrayIcon {
 public:
  explicit TrayIcon(TrayPlatform& platform) : platform_(platform) {}
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Adds the icon for `window` (its own icon, the tooltip or, for the placeholder, its caption)
  // and hooks its messages. Menus are popup-menu handles, 0 for none. False, with nothing done,
  // when an icon is already installed or `window` is 0.
  bool AddTrayIcon(std::uintptr_t window, std::u16string_view toolTipText,
                   std::uintptr_t leftClickMenu, std::uintptr_t rightClickMenu);
  // Shows a balloon with `balloonIcon` (kTrayBalloonInfo, kTrayBalloonError); returns the icon
  // handle of the record, 0 when no icon is installed.
  std::uintptr_t ShowTrayBalloon(std::u16string_view toolTipText, std::u16string_view title,
                                 std::u16string_view text, std::uint32_t balloonIcon,
                                 std::uint32_t timeoutMs);
  // Replaces the icon; returns `icon`, or 0 when no icon is installed.
  std::uintptr_t SetTrayIcon(std::uintptr_t icon);
  // Deletes the icon, unhooks the window and, with `close`, posts WM_CLOSE to it. Nothing
  // happens when no icon is installed.
  void RemoveTrayIcon(bool close);
  // Brings `window` to the front in its last size and position; needs no icon.
  void RestoreWindow(std::uintptr_t window);
  // The hooked window's message handling: acts on icon clicks, minimizing, closing and a new
  // taskbar, then passes the message on to the saved procedure.
  std::intptr_t TrayWindowProc(std::uintptr_t window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam);

  bool Installed() const { return window_ != 0; }
  // The record last sent to the shell.
  const TrayIconRecord& Record() const { return record_; }

 private:
  void MinimizeToTray(std::uintptr_t window);

  TrayPlatform& platform_;
  std::uintptr_t window_ = 0;
  std::uintptr_t leftClickMenu_ = 0;
  std::uintptr_t rightClickMenu_ = 0;
  std::uintptr_t previousProc_ = 0;
  TrayIconRecord record_;
};

}  // namespace sealupdate
