// The sample main program of the demo and the end-to-end tests: it carries a version resource
// (sample_app.rc) and runs until it is ended, as the program being updated would.
#include "platform/win32.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  for (;;) Sleep(INFINITE);
}
