// The client's one window.
#pragma once

#include <cstdint>

namespace sealupdate {

// Loads the main window for the update mode (shown in modes 0 and 1, loaded but hidden and
// off-screen in mode 2), runs the message loop until the window closes and returns the exit
// code. Works on gUpdateInfo.
int RunMainWindow(std::int32_t mode);

}  // namespace sealupdate
