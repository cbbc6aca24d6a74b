// The native process table reads /proc; it serves the tool and the tests.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"
#include "platform/processes.h"

namespace sealupdate {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Digits only, and a value kill() takes as one process (never 0 or a negative group id).
std::optional<std::uint32_t> ParsePid(const char* name) {
  std::uint32_t pid = 0;
  if (*name == '\0') return std::nullopt;
  for (; *name; ++name) {
    if (*name < '0' || *name > '9') return std::nullopt;
    pid = pid * 10 + static_cast<std::uint32_t>(*name - '0');
    if (pid > static_cast<std::uint32_t>(INT_MAX)) return std::nullopt;
  }
  if (pid == 0) return std::nullopt;
  return pid;
}

// The path of the executable, empty when the link cannot be read (as for other users'
// processes). A running program whose file was replaced or removed still bears its path.
std::string ImagePathOf(const std::string& procDir) {
  std::string target(PATH_MAX, '\0');
  const ssize_t n = ::readlink((procDir + "/exe").c_str(), target.data(), target.size());
  if (n <= 0) return {};
  target.resize(static_cast<std::size_t>(n));
  constexpr std::string_view kDeleted = " (deleted)";
  if (target.size() > kDeleted.size() &&
      target.compare(target.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0) {
    target.resize(target.size() - kDeleted.size());
  }
  return target;
}

// The bare file name of the executable; "comm" (cut to 15 bytes by the kernel) when its path
// is unknown.
std::string ExeNameOf(const std::string& procDir, const std::string& imagePath) {
  if (!imagePath.empty()) return imagePath.substr(imagePath.rfind('/') + 1);
  std::ifstream comm(procDir + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// The POSIX session stands in for the sign-in session.
std::optional<std::uint32_t> SessionOf(pid_t pid) {
  const pid_t session = ::getsid(pid);
  if (session < 0) return std::nullopt;
  return static_cast<std::uint32_t>(session);
}

class ProcProcessTable final : public ProcessTable {
 public:
  std::optional<std::vector<ProcessEntry>> Snapshot() override {
    std::unique_ptr<DIR, DirCloser> proc(::opendir("/proc"));
    if (!proc) return std::nullopt;
    std::vector<ProcessEntry> entries;
    while (const dirent* item = ::readdir(proc.get())) {
      const auto pid = ParsePid(item->d_name);
      if (!pid) continue;
      const std::string dir = std::string("/proc/") + item->d_name;
      const std::string image = ImagePathOf(dir);
      const std::string name = ExeNameOf(dir, image);
      if (!name.empty()) {
        entries.push_back(
            {*pid, Utf8ToUtf16(name), Utf8ToUtf16(image), SessionOf(static_cast<pid_t>(*pid))});
      }
    }
    return entries;
  }

  // A POSIX process cannot be given another's exit code; it is killed outright. The file is
  // checked just before the kill, which narrows the window for a reused id but, unlike the
  // Windows table, cannot close it; the native table serves only the tool and the tests.
  bool Terminate(std::uint32_t id, std::u16string_view imagePath,
                 std::uint32_t /*exitCode*/) override {
    if (id == 0 || id > static_cast<std::uint32_t>(INT_MAX) || imagePath.empty()) return false;
    if (Utf8ToUtf16(ImagePathOf("/proc/" + std::to_string(id))) != imagePath) return false;
    return ::kill(static_cast<pid_t>(id), SIGKILL) == 0;
  }

  std::uint32_t CurrentProcessId() override { return static_cast<std::uint32_t>(::getpid()); }
  std::optional<std::uint32_t> CurrentSession() override { return SessionOf(0); }
};

}  // namespace

ProcessTable& SystemProcessTable() {
  static ProcProcessTable table;
  return table;
}

}  // namespace sealupdate
