// The process table seam: listing running processes with their executable files and ending them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sealupdate {

struct ProcessEntry {
  std::uint32_t id = 0;
  std::u16string exeName;    // bare file name as the system reports it, no folder
  std::u16string imagePath;  // full path of the executable file; empty when it cannot be read
  // The sign-in session the process runs in (each user of a terminal server has their own);
  // nullopt when it cannot be read.
  std::optional<std::uint32_t> session;
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // A snapshot of the running processes; nullopt when none can be taken.
  virtual std::optional<std::vector<ProcessEntry>> Snapshot() = 0;
  // Ends the process with the exit code if it still runs the file at `imagePath` (as Snapshot
  // reported it): an id reused since the snapshot names another process, which is left alone.
  // False when the process cannot be opened, its file cannot be read or differs, or it cannot be
  // terminated.
  virtual bool Terminate(std::uint32_t id, std::u16string_view imagePath,
                         std::uint32_t exitCode) = 0;
  virtual std::uint32_t CurrentProcessId() = 0;
  // The session of this process; nullopt when it cannot be read.
  virtual std::optional<std::uint32_t> CurrentSession() = 0;
};

// The real table of this system (Toolhelp on Windows, /proc natively).
ProcessTable& SystemProcessTable();

}  // namespace sealupdate
