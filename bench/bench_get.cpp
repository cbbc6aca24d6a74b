// The bare WinINet baseline of the benchmarks: the least a program can do to fetch a URL.
//
//   bench_get URL          into memory, then exit (the floor of the silent check)
//   bench_get URL PATH     into PATH with the Downloader's largest read (256 KiB); prints
//                          "elapsed_ms N" and "peak_working_set N" (the download benchmark)
//
// Built a second time as bench_get_window, which first makes one hidden top-level window: the
// floor of a program that has a window (what the window system costs under Wine). bench_get
// itself stays the bare floor the executables' sizes are measured against.
#include "platform/win32.h"

#include <psapi.h>  // after <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using sealupdate::win::UniqueFileHandle;
using sealupdate::win::UniqueInternet;

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 3) return 2;
#ifdef BENCH_GET_WINDOW
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = DefWindowProcW;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"bench_get";
  if (!RegisterClassExW(&wc)) return 1;
  const sealupdate::win::UniqueWindow window(
      CreateWindowExW(0, wc.lpszClassName, L"bench_get", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 400, 300, nullptr, nullptr, wc.hInstance, nullptr));
  if (!window) return 1;
#endif
  const auto start = std::chrono::steady_clock::now();
  UniqueInternet session(
      InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  UniqueInternet request(InternetOpenUrlW(
      session.get(), argv[1], nullptr, 0,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
  if (!request) return 1;
  UniqueFileHandle file;
  if (argc == 3) {
    file.reset(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr));
    if (!file) return 1;
  }
  std::string body;
  std::vector<char> buffer(file ? 256 * 1024 : 65536);
  std::uint64_t total = 0;
  for (DWORD got = 0;; total += got) {
    if (!InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got))
      return 1;
    if (got == 0) break;
    DWORD written = 0;
    if (!file) {
      body.append(buffer.data(), got);
    } else if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) {
      return 1;
    }
  }
  if (total == 0) return 1;
  if (file) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    std::printf("elapsed_ms %lld\npeak_working_set %llu\n", static_cast<long long>(elapsed.count()),
                static_cast<unsigned long long>(counters.PeakWorkingSetSize));
  }
  return 0;
}
