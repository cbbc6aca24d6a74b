// Started by the Wine fixture so that the long-lived Wine processes (wineserver, the desktop
// explorer) belong to the fixture and not to a test whose output pipe CTest waits on.
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  Sleep(INFINITE);
  return 0;
}
