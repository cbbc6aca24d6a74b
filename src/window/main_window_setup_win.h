// The main window's set-up on Win32: the DPI it is laid out for, its outer size, the common
// controls and its font.
#pragma once

#include "platform/win32.h"

namespace sealupdate {

// The window's DPI (per monitor from Windows 10 on), else the system's.
int WindowDpi(HWND hwnd);
int SystemDpi();

// Outer window size, for a window of `style`, around the designed client area at `dpi`.
SIZE WindowSizeFor(int dpi, DWORD style);

// Common controls version 6 (visual styles) come from the activation context of this manifest
// resource of the executable, made active only once the window is about to be shown: the main
// manifest does not ask for them, so a silent check that ends unseen never loads comctl32.
constexpr WORD kControlsManifestId = 2;
void LoadCommonControls();

// The system's message font face (the UI font for the user's language, which covers its
// script) at the window's designed size.
win::UniqueFont CreateWindowFont(int dpi);

}  // namespace sealupdate
