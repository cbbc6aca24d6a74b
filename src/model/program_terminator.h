// Ending the main program's running processes before its package is opened, limited to the
// client's own installation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/trail.h"
#include "platform/processes.h"

namespace sealupdate {

class ProgramTerminator {
 public:
  // Each process ended, and each of a listed name left running with the reason, goes to `trail`.
  ProgramTerminator(ProcessTable& processes, std::u16string clientFolder, Trail trail = {});

  // Terminates every running process of the listed executables (names compared without letter
  // case) whose file lies in the client's folder or below it and that runs in the client's own
  // session, except the client itself.
  // Processes elsewhere, or whose file cannot be read, are left alone. The ids ended.
  std::vector<std::uint32_t> EndAll(const std::vector<std::u16string>& exeNames);

 private:
  ProcessTable& processes_;
  std::u16string clientFolder_;
  Trail trail_;
};

}  // namespace sealupdate
