// The notification-area icon over the TrayPlatform seam.
#include "widgets/tray_icon.h"

namespace sealupdate {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

std::u16string CutToField(std::u16string_view text, std::size_t fieldUnits) {
  const std::size_t room = fieldUnits > 0 ? fieldUnits - 1 : 0;
  if (text.size() <= room) return std::u16string(text);
  std::size_t length = room;
  if (length > 0 && IsHighSurrogate(text[length - 1])) --length;
  return std::u16string(text.substr(0, length));
}

bool TrayIcon::AddTrayIcon(std::uintptr_t window, std::u16string_view toolTipText,
                           std::uintptr_t leftClickMenu, std::uintptr_t rightClickMenu) {
  if (Installed() || window == 0) return false;
  window_ = window;
  leftClickMenu_ = leftClickMenu;
  rightClickMenu_ = rightClickMenu;
  const std::u16string tip = toolTipText == kToolTipPlaceholder ? platform_.WindowCaption(window)
                                                                : std::u16string(toolTipText);
  record_ = TrayIconRecord{};
  record_.window = window;
  record_.id = 0;
  record_.validFields = kTrayFieldsAdd;
  record_.callbackMessage = kTrayCallbackMessage;
  record_.tip = CutToField(tip, kTrayTipUnits);
  record_.icon = platform_.WindowIcon(window);
  record_.balloonIcon = kTrayBalloonInfo;
  platform_.Notify(TrayNotify::kAdd, record_);
  previousProc_ = platform_.HookWindow(window, *this);
  return true;
}

std::uintptr_t TrayIcon::ShowTrayBalloon(std::u16string_view toolTipText, std::u16string_view title,
                                         std::u16string_view text, std::uint32_t balloonIcon,
                                         std::uint32_t timeoutMs) {
  if (!Installed()) return 0;
  if (toolTipText != kToolTipPlaceholder) record_.tip = CutToField(toolTipText, kTrayTipUnits);
  record_.balloonTitle = CutToField(title, kTrayBalloonTitleUnits);
  record_.balloonText = CutToField(text, kTrayBalloonTextUnits);
  record_.balloonTimeoutMs = timeoutMs;
  record_.balloonIcon = balloonIcon;
  platform_.Notify(TrayNotify::kModify, record_);
  return record_.icon;
}

std::uintptr_t TrayIcon::SetTrayIcon(std::uintptr_t icon) {
  if (!Installed()) return 0;
  record_.icon = icon;
  platform_.Notify(TrayNotify::kModify, record_);
  return icon;
}

void TrayIcon::RemoveTrayIcon(bool close) {
  if (!Installed()) return;
  record_.window = window_;
  record_.id = 0;
  record_.validFields = kTrayFieldsDelete;
  record_.callbackMessage = kTrayCallbackMessage;
  record_.tip.clear();
  record_.icon = platform_.WindowIcon(window_);
  platform_.Notify(TrayNotify::kDelete, record_);
  platform_.UnhookWindow(window_, previousProc_);
  if (close) platform_.PostClose(window_);
  window_ = 0;
}

void TrayIcon::RestoreWindow(std::uintptr_t window) {
  platform_.SetForegroundWindow(window);
  platform_.ShowWindow(window, kTrayShowNoActivate);
}

std::intptr_t TrayIcon::TrayWindowProc(std::uintptr_t window, std::uint32_t message,
                                       std::uintptr_t wParam, std::intptr_t lParam) {
  // RemoveTrayIcon (on WM_CLOSE, or from a menu command during a popup) unhooks the window
  // before this message has been passed on.
  const std::uintptr_t previous = previousProc_;
  if (message == kTrayCallbackMessage) {
    switch (lParam) {
      case kIconLeftDown:
      case kIconRightDown:
        platform_.SetForegroundWindow(window);
        break;
      case kIconLeftUp:
        if (leftClickMenu_ != 0) {
          platform_.PopupMenu(leftClickMenu_, window);
        } else {
          RestoreWindow(window_);
        }
        break;
      case kIconLeftDoubleClick:
        RestoreWindow(window_);
        break;
      case kIconRightUp:
        if (rightClickMenu_ == 0) return 0;
        platform_.PopupMenu(rightClickMenu_, window);
        break;
      default:
        break;
    }
  } else if (message == kWmSize) {
    if (wParam == kSizeMinimized) MinimizeToTray(window);
  } else if (message == kWmClose || message == kWmNcDestroy) {
    RemoveTrayIcon(false);
  } else if (message != 0 && message == platform_.TaskbarCreatedMessage()) {
    // The shell was restarted and forgot the icon.
    if (Installed()) platform_.Notify(TrayNotify::kAdd, record_);
  }
  return platform_.CallPrevious(previous, window, message, wParam, lParam);
}

// A window minimized with its title-bar button (the mouse off the taskbar, wherever the taskbar
// is docked) leaves the taskbar and lives on as the icon; one minimized through its taskbar
// button stays there. Without a taskbar or a mouse position the window stays minimized.
void TrayIcon::MinimizeToTray(std::uintptr_t window) {
  const auto taskbar = platform_.TaskbarRect();
  if (!taskbar) return;
  const auto cursor = platform_.CursorPos();
  if (!cursor) return;
  const bool onTaskbar = cursor->x >= taskbar->left && cursor->x < taskbar->right &&
                         cursor->y >= taskbar->top && cursor->y < taskbar->bottom;
  if (!onTaskbar) platform_.ShowWindow(window, kTrayHide);
}

}  // namespace sealupdate
