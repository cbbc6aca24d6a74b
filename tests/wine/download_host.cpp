// download_host.exe: hosts a Downloader with the real WinINet reader and a message loop, as the
// client's window does, and prints every event as a UTF-8 line on stdout.
//
//   --get NAME URL SAVE     start a task ("-" as SAVE: memory only); several may be given
//   --cancel-on-progress NAME[,N]
//                           remove that task at its first (or Nth) progress event
//   --lock PATH             hold PATH open without sharing while the tasks run
//   --dump DIR              write each successful memory body to DIR\<task name>.bin
//   --linger MS             keep dispatching messages MS after the last task ended
//   --quiet-progress        count progress events instead of printing them
//   --stats                 print the elapsed time and the peak working set at the end
//   --raw URL PATH          benchmark baseline: a minimal WinINet read loop into PATH
//
// Output lines: "add NAME|SAVE|COUNT", "progress NAME|VALUE|MAX|SPEED|TIME|COUNT|MS",
// "complete NAME|ERR|COUNT|BYTES|MS", "begin NAME|RESULT", "cancelled NAME",
// "progress-events N", "elapsed_ms N", "peak_working_set N". MS: milliseconds since the tasks
// started.
#include "platform/win32.h"

#include <psapi.h>  // after <windows.h>
#include <wininet.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "download/downloader.h"
#include "platform/files.h"

using namespace sealupdate;

namespace {

void Print(const std::u16string& line) {
  const std::string bytes = Utf16ToUtf8(line) + "\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

std::u16string Number(double value) { return Utf8ToUtf16(std::to_string(std::int64_t(value))); }

struct Host final : DownloaderEvents {
  Downloader* dl = nullptr;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::u16string cancelOn;
  long cancelAfter = 1;
  std::u16string dumpFolder;
  bool quietProgress = false;
  long progressEvents = 0;
  bool finished = false;
  std::chrono::steady_clock::time_point finishedAt;

  void AddDownloadTask(const std::u16string&, const std::u16string& name,
                       const std::u16string& save, std::int32_t count) override {
    Print(u"add " + name + u"|" + save + u"|" + Number(count));
  }
  void DownloadProgress(const std::u16string&, const std::u16string& name, const std::u16string&,
                        double value, double max, const std::u16string& speed,
                        const std::u16string& residual, std::int32_t count) override {
    ++progressEvents;
    if (!quietProgress) {
      Print(u"progress " + name + u"|" + Number(value) + u"|" + Number(max) + u"|" + speed + u"|" +
            residual + u"|" + Number(count) + u"|" + Number(Elapsed()));
    }
    if (name == cancelOn && --cancelAfter == 0) {
      dl->RemoveTask(name);
      Print(u"cancelled " + name);
    }
  }
  void DownloadComplete(const std::u16string&, const std::u16string& name, const std::u16string&,
                        const std::string& bytes, TransferError err, std::int32_t count) override {
    finished = true;
    finishedAt = std::chrono::steady_clock::now();
    Print(u"complete " + name + u"|" + Number(ErrorNumber(err)) + u"|" + Number(count) + u"|" +
          Number(static_cast<double>(bytes.size())) + u"|" + Number(Elapsed()));
    if (!err && !dumpFolder.empty() && !bytes.empty()) {
      WriteWholeFile(dumpFolder + u"\\" + name + u".bin", bytes);
    }
  }
  double Elapsed() const {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
  }
};

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
using UniqueInternet = win::UniqueHandle<InternetTraits>;

// The baseline of the benchmark: the least a program can do to fetch a URL into a file.
int RawRead(const std::wstring& url, const std::wstring& path) {
  UniqueInternet session(InternetOpenW(L"raw", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  UniqueInternet request(InternetOpenUrlW(
      session.get(), url.c_str(), nullptr, 0,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0));
  win::UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!request || !file) return 1;
  std::vector<char> buffer(256 * 1024);
  std::uint64_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got))
      return 1;
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer.data(), got, &written, nullptr) || written != got) return 1;
    total += got;
  }
  Print(u"raw-bytes " + Number(static_cast<double>(total)));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  struct Get {
    std::u16string name, url, save;
  };
  std::vector<Get> gets;
  Host host;
  std::u16string lockPath, rawUrl, rawPath;
  DWORD linger = 0;
  bool stats = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    auto next = [&]() { return i + 1 < argc ? win::FromWide(argv[++i]) : std::u16string(); };
    if (arg == L"--get") {
      Get get;
      get.name = next();
      get.url = next();
      get.save = next();
      if (get.save == u"-") get.save.clear();
      gets.push_back(get);
    } else if (arg == L"--cancel-on-progress") {
      const std::u16string value = next();
      const std::size_t comma = value.find(u',');
      host.cancelOn = value.substr(0, comma);
      if (comma != std::u16string::npos) {
        host.cancelAfter = std::stol(win::Wide(value.substr(comma + 1)));
      }
    } else if (arg == L"--lock") {
      lockPath = next();
    } else if (arg == L"--dump") {
      host.dumpFolder = next();
    } else if (arg == L"--linger") {
      linger = static_cast<DWORD>(std::stoul(win::Wide(next())));
    } else if (arg == L"--quiet-progress") {
      host.quietProgress = true;
    } else if (arg == L"--stats") {
      stats = true;
    } else if (arg == L"--raw") {
      rawUrl = next();
      rawPath = next();
    } else {
      std::fprintf(stderr, "unknown argument\n");
      return 2;
    }
  }

  // Timed from the first request (after the one-time set-up of the reader's window) to the end.
  auto start = std::chrono::steady_clock::now();
  int code = 0;
  if (!rawUrl.empty()) {
    code = RawRead(win::Wide(rawUrl), win::Wide(rawPath));
  } else {
    win::UniqueFileHandle lock;
    if (!lockPath.empty()) {
      lock.reset(CreateFileW(win::Wide(lockPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!lock) return 3;
    }
    auto reader = CreateSystemUrlReader();
    Downloader dl(*reader, SystemClock(), SystemEventPump(), FolderOf(GetOwnExePath()));
    host.dl = &dl;
    dl.SetEvents(&host);
    start = std::chrono::steady_clock::now();
    host.start = start;
    for (const auto& get : gets) {
      Print(u"begin " + get.name + u"|" + dl.BeginDownload(get.url, get.name, get.save));
    }
    // The client's message loop: every notification arrives as a posted message.
    ULONGLONG idleSince = 0;
    for (;;) {
      SystemEventPump().ProcessPendingEvents();
      if (dl.TaskCount() != 0) {
        idleSince = 0;
      } else if (idleSince == 0) {
        idleSince = GetTickCount64();
      } else if (GetTickCount64() - idleSince >= linger) {
        break;
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
  }
  const auto elapsed = (host.finished ? host.finishedAt : std::chrono::steady_clock::now()) - start;
  if (host.quietProgress) Print(u"progress-events " + Number(host.progressEvents));
  if (stats) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    Print(u"elapsed_ms " + Number(std::chrono::duration<double, std::milli>(elapsed).count()));
    Print(u"peak_working_set " + Number(static_cast<double>(counters.PeakWorkingSetSize)));
  }
  return code;
}
