// Start-up of the Windows client and the icon helper the main window uses.
#pragma once

#include <string>

#include "platform/win32.h"

namespace sealupdate {

// Runs start-up and the message loop; returns the process exit code.
int Main(std::u16string_view commandLine);

// Initialises the common-controls library; every failure is ignored.
void InitControls();

// Gives `window` the small icon number `iconIndex` of `file` and returns it (the caller owns
// it). An empty or missing `file` is replaced by the client's own executable path, which the
// caller's variable receives.
HICON SetWindowIconFromFile(HWND window, std::u16string& file, short iconIndex);

}  // namespace sealupdate
