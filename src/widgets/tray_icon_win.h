// The notification-area icon's Win32 platform, one for the process, and the window procedure
// that a TrayIcon installs on the window it serves.
#pragma once

#include <cstdint>

#include "platform/win32.h"
#include "widgets/tray_icon.h"
#include "widgets/tray_platform.h"

namespace sealupdate {

// Shell_NotifyIconW, window subclassing and the other window services.
TrayPlatform& Win32TrayPlatform();

// Installed by AddTrayIcon as the served window's procedure; forwards to the TrayWindowProc of
// the module that hooked the window.
LRESULT CALLBACK TrayWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// HWND, HMENU and HICON as the module's opaque handles, and back.
inline std::uintptr_t TrayHandle(const void* handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}
template <typename Handle>
Handle FromTrayHandle(std::uintptr_t handle) {
  return reinterpret_cast<Handle>(handle);
}

}  // namespace sealupdate
