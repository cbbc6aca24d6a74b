// A scripted process table: a fixed list of processes, the ids it was asked to end, and
// switches for the failures the real table can report.
#pragma once

#include <algorithm>
#include <set>
#include <vector>

#include "platform/processes.h"

namespace sealupdate {

class FakeProcessTable : public ProcessTable {
 public:
  std::vector<ProcessEntry> processes;
  std::uint32_t ownId = 1;
  bool snapshotFails = false;
  std::set<std::uint32_t> refuse;  // ids whose termination fails
  std::vector<std::uint32_t> terminated;
  std::vector<std::uint32_t> exitCodes;
  int snapshots = 0;

  std::optional<std::vector<ProcessEntry>> Snapshot() override {
    ++snapshots;
    if (snapshotFails) return std::nullopt;
    return processes;
  }
  bool Terminate(std::uint32_t id, std::uint32_t exitCode) override {
    if (refuse.count(id)) return false;
    terminated.push_back(id);
    exitCodes.push_back(exitCode);
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [id](const ProcessEntry& p) { return p.id == id; }),
                    processes.end());
    return true;
  }
  std::uint32_t CurrentProcessId() override { return ownId; }
};

}  // namespace sealupdate
