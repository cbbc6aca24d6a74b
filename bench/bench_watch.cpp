// Watches a program's window from outside, for the start-up benchmark: the client itself carries
// nothing for it.
//
//   bench_watch TITLE TIMEOUT_MS
//   bench_watch --peak PID          prints "peak_working_set N" of the running process PID
//
// Prints "ready" once it polls, then "visible" when a top-level window titled TITLE is visible,
// then "painted" when neither the window nor any of its children has anything left to paint
// (every region the showing invalidated has been through WM_PAINT), and exits 0; exits 1 when
// the time runs out first. Each line is flushed at once: the reader timestamps it.
#include "platform/win32.h"

#include <psapi.h>  // after <windows.h>

#include <cstdio>
#include <cwchar>
#include <string_view>

namespace {

BOOL CALLBACK ChildNeedsPaint(HWND child, LPARAM found) {
  if (IsWindowVisible(child) && GetUpdateRect(child, nullptr, FALSE)) {
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
  }
  return TRUE;
}

bool Painted(HWND window) {
  if (GetUpdateRect(window, nullptr, FALSE)) return false;
  bool pending = false;
  EnumChildWindows(window, ChildNeedsPaint, reinterpret_cast<LPARAM>(&pending));
  return !pending;
}

void Say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

int PeakWorkingSet(DWORD pid) {
  const sealupdate::win::UniqueKernelHandle process(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!process || !GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) return 1;
  std::printf("peak_working_set %llu\n",
              static_cast<unsigned long long>(counters.PeakWorkingSetSize));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  if (std::wstring_view(argv[1]) == L"--peak") {
    return PeakWorkingSet(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  }
  const ULONGLONG deadline = GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
  Say("ready");
  bool visible = false;
  // The showing invalidates the window before it is painted; a window seen visible with nothing
  // to paint on the very first look may not have been invalidated yet, so wait for one more.
  int cleanLooks = 0;
  while (GetTickCount64() < deadline) {
    HWND window = FindWindowW(nullptr, argv[1]);
    if (window && IsWindowVisible(window)) {
      if (!visible) Say("visible");
      visible = true;
      cleanLooks = Painted(window) ? cleanLooks + 1 : 0;
      if (cleanLooks == 2) {
        Say("painted");
        return 0;
      }
    }
    Sleep(1);
  }
  return 1;
}
