// The process table seam: listing running processes by executable file name and ending them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sealupdate {

struct ProcessEntry {
  std::uint32_t id = 0;
  std::u16string exeName;  // bare file name as the system reports it, no folder
};

class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // A snapshot of the running processes; nullopt when none can be taken.
  virtual std::optional<std::vector<ProcessEntry>> Snapshot() = 0;
  // Ends the process with the exit code; false when it cannot be opened or terminated.
  virtual bool Terminate(std::uint32_t id, std::uint32_t exitCode) = 0;
  virtual std::uint32_t CurrentProcessId() = 0;
};

// The real table of this system (Toolhelp on Windows, /proc natively).
ProcessTable& SystemProcessTable();

}  // namespace sealupdate
