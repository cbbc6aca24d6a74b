#include "startup/mmain_win.h"

#include <commctrl.h>
#include <shellapi.h>

#include "platform/files.h"
#include "startup/startup.h"
#include "window/frm_main_win.h"

namespace sealupdate {

void InitControls() {
  // Loaded by name so that a system without the function still starts.
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  if (!comctl) return;
  using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = reinterpret_cast<InitFn>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
  if (!init) return;
  INITCOMMONCONTROLSEX icc{};
  icc.dwSize = sizeof icc;
  icc.dwICC = ICC_USEREX_CLASSES | ICC_STANDARD_CLASSES;
  init(&icc);
}

HICON SetWindowIconFromFile(HWND window, std::u16string& file, short iconIndex) {
  if (file.empty() || !PathExists(file)) {
    const std::u16string own = GetOwnExePath();
    std::u16string folder = FolderOf(own);
    if (folder.empty() || folder.back() != u'\\') folder += u'\\';
    std::u16string name = FileNameOf(own);
    const auto dot = name.rfind(u'.');
    if (dot != std::u16string::npos) name.resize(dot);
    file = folder + name + u".exe";
  }
  HICON icon = ExtractIconW(GetModuleHandleW(nullptr), win::Wide(file).c_str(),
                            static_cast<UINT>(static_cast<unsigned short>(iconIndex)));
  if (icon == reinterpret_cast<HICON>(1)) icon = nullptr;  // "not an executable file"
  SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  return icon;
}

int Main(std::u16string_view commandLine) {
  const std::u16string ownPath = GetOwnExePath();
  InitControls();
  const SealKey key = BuildSealKey();
  StartupState state =
      LoadStartupState(ownPath, commandLine, key, std::make_unique<clsUpdateInfo>());
  gUpdateInfo = std::move(state.info);
  return RunMainWindow(state.mode);
}

}  // namespace sealupdate
