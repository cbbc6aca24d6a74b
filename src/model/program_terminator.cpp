// Ending the main program's processes inside the client's folder.
#include "model/program_terminator.h"

#include <utility>

#include "base/paths.h"
#include "base/text.h"

namespace sealupdate {

ProgramTerminator::ProgramTerminator(ProcessTable& processes, std::u16string clientFolder,
                                     Trail trail)
    : processes_(processes), clientFolder_(std::move(clientFolder)), trail_(std::move(trail)) {}

// Only the client's own installation in the client's own session is ended: another copy of the
// program, a system process of the same name, or the same program another user of a terminal
// server runs is left alone, and so is a process whose session cannot be read. The client's own
// process is skipped, so it survives to open the package even when its own name is listed.
// Names are taken in the order listed, the main program first.
std::vector<std::uint32_t> ProgramTerminator::EndAll(const std::vector<std::u16string>& exeNames) {
  std::vector<std::uint32_t> ended;
  const auto snapshot = processes_.Snapshot();
  const std::uint32_t self = processes_.CurrentProcessId();
  const std::optional<std::uint32_t> session = processes_.CurrentSession();
  if (!snapshot || !session) {
    trail_.Write(snapshot ? "own session unknown: no program ended"
                          : "no process list: no program ended");
    return ended;
  }
  for (const std::u16string& name : exeNames) {
    for (const ProcessEntry& entry : *snapshot) {
      if (entry.id == self || !EqualsIgnoreCase(entry.exeName, name)) continue;
      const char* leftBecause = nullptr;
      if (entry.session != session) {
        leftBecause = "another session";
      } else if (!IsInsideFolder(entry.imagePath, clientFolder_)) {
        leftBecause = "outside the client's folder";
      } else if (processes_.Terminate(entry.id, entry.imagePath, 0)) {
        ended.push_back(entry.id);
      } else {
        // It cannot be ended, or no longer runs that file.
        leftBecause = "could not be ended";
      }
      const std::string which =
          TrailText(entry.exeName) + " (pid " + std::to_string(entry.id) + ")";
      trail_.Write(leftBecause ? "left " + which + " running: " + leftBecause : "ended " + which);
    }
  }
  return ended;
}

}  // namespace sealupdate
