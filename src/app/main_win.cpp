// The one place that assembles the client: the sealed configuration, the reader, the
// downloader, the process terminator, the window and the flow, and the message loop that drives
// them.
#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <memory>
#include <optional>
#include <utility>

#include "base/text.h"
#include "base/trail.h"
#include "download/downloader.h"
#include "download/url_reader.h"
#include "model/version_info.h"
#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/files.h"
#include "platform/machine_guid.h"
#include "platform/processes.h"
#include "platform/win32.h"
#include "startup/startup.h"
#include "version.h"
#include "window/main_window_win.h"
#include "window/update_flow.h"

// The client has no console, so the library's default handler for an uncaught exception
// (print the demangled type to stderr, then abort) prints nowhere; it also links in the whole
// demangler (about 45 KiB). Replacing it keeps the abort and drops the dead weight.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

namespace sealupdate {
namespace {

// Libraries loaded from now on come from the system folder only, never from the program's
// folder, where a planted DLL would run inside the client. Looked up at run time: Windows 7
// has the call only with its loader update.
void HardenLibrarySearch() {
  using SetDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto setDirectories = reinterpret_cast<SetDirectoriesFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  if (setDirectories) setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The main program's version resource is read once per run: a check started again asks for the
// same file, which cannot change while the client runs.
class FileVersionCache {
 public:
  std::u16string operator()(const std::u16string& path) {
    if (!read_ || path_ != path) {
      const std::optional<VersionInfo> info = ReadVersionInfo(path);
      version_ = info ? info->fileVersion : std::u16string();
      path_ = path;
      read_ = true;
    }
    return version_;
  }

 private:
  bool read_ = false;
  std::u16string path_;
  std::u16string version_;
};

#ifdef SEALUPDATE_TEST_HOOKS
// Test builds only: SEALUPDATE_TEST_TUNING="DOCUMENT_MS,WINDOW_MS" shortens the reader's document
// deadline and slow-transfer window, so the end-to-end tests see a dripping server fail within
// seconds. It can only shorten them.
ReaderTuning TuningOfRun() {
  ReaderTuning tuning;
  wchar_t text[32] = {};
  unsigned document = 0;
  unsigned window = 0;
  if (GetEnvironmentVariableW(L"SEALUPDATE_TEST_TUNING", text, 32) < 32 &&
      std::swscanf(text, L"%u,%u", &document, &window) == 2) {
    tuning.documentDeadlineMs = std::min<std::uint32_t>(tuning.documentDeadlineMs, document);
    tuning.slowWindowMs = std::min<std::uint32_t>(tuning.slowWindowMs, window);
  }
  return tuning;
}
#else
ReaderTuning TuningOfRun() { return {}; }
#endif

// The trail goes to the debugger's output, where DebugView (or Wine's debug channel) reads it.
void WriteToDebugger(const std::string& line) {
  OutputDebugStringW(win::Wide(Utf8ToUtf16(line + "\n")).c_str());
}

int Run(std::u16string_view commandLine) {
  const std::u16string ownPath = GetOwnExePath();
  const ClientConfig config = LoadClientConfig(ownPath, commandLine, BuildSealKey());
  const Trail trail(WriteToDebugger);
  trail.Write("client " SEALUPDATE_VERSION_TEXT " started");

  const std::unique_ptr<MainWindow> window = MainWindow::Create(config.mode);
  if (!window) return 1;
  // The reader posts its results to a window of this thread, so it comes after the window.
  const std::unique_ptr<UrlReader> reader = CreateSystemUrlReader(TuningOfRun());
  Downloader downloader(*reader, SystemClock(), SystemEventPump(), FolderOf(ownPath));
  downloader.SetTrail(trail);
  ProgramTerminator programs(SystemProcessTable(), config.clientFolder, trail);
  FlowSystem system;
  system.readFileVersion = FileVersionCache();
  system.perUserFolder = [&config] {
    return PerUserFolder(LocalAppDataFolder(), LongPathOf(config.clientFolder));
  };
  system.machineGuid = ReadMachineGuid;
  system.trail = trail;
  UpdateFlow flow(*window, config, downloader, programs, std::move(system));
  downloader.SetEvents(&flow);
  window->Attach(flow);
  window->Run();
  const RunExit exit = flow.exitCode();
  trail.Write("exit code " + std::to_string(static_cast<int>(exit)));
  return static_cast<int>(exit);
}

}  // namespace
}  // namespace sealupdate

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
  sealupdate::HardenLibrarySearch();
  try {
    return sealupdate::Run(sealupdate::win::FromWide(commandLine ? commandLine : L""));
  } catch (...) {
    return 1;  // nothing may escape the entry point; the user sees the window vanish
  }
}
