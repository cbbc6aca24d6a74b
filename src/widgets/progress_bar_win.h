// The progress bar's Win32 window class. No <windows.h> here: a window is named by the
// HWND__ pointer that HWND stands for.
#pragma once

#include "widgets/progress_bar.h"

struct HWND__;

namespace sealupdate {

// The registered type name other programs know the control by; the client's own window classes
// follow its dotted style (SealUpdate.MainWindow, SealUpdate.UrlReader).
inline constexpr wchar_t kProgressBarClassName[] = L"Veltrodine.ProgressBar";

// Registers the child-window class once per process; true when it is registered.
bool RegisterProgressBarClass();

// The model behind a window of that class, null for any other window. Its properties and events
// are used directly; the window shows every redraw at once. Setters may throw
// std::overflow_error as documented on ProgressBar.
ProgressBar* ProgressBarOf(HWND__* window);

}  // namespace sealupdate
