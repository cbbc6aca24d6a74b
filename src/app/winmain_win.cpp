#include "platform/win32.h"
#include "startup/mmain_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  return sealupdate::Main(sealupdate::win::FromWide(commandLine ? commandLine : L""));
}
