// A scripted process table: a fixed list of processes, the ids it was asked to end, and
// switches for the failures the real table can report.
#pragma once

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/processes.h"

namespace sealupdate {

class FakeProcessTable : public ProcessTable {
 public:
  std::vector<ProcessEntry> processes;
  std::uint32_t ownId = 1;
  bool snapshotFails = false;
  std::set<std::uint32_t> refuse;  // ids whose termination fails
  // The file each id runs by the time it is terminated, where it differs from the snapshot (an id
  // reused by another program meanwhile).
  std::map<std::uint32_t, std::u16string> runningNow;
  std::vector<std::uint32_t> terminated;
  std::vector<std::uint32_t> exitCodes;
  int snapshots = 0;

  std::optional<std::vector<ProcessEntry>> Snapshot() override {
    ++snapshots;
    if (snapshotFails) return std::nullopt;
    return processes;
  }
  // Keeps the real tables' promise: only a process still running the expected file is ended.
  bool Terminate(std::uint32_t id, std::u16string_view imagePath, std::uint32_t exitCode) override {
    if (refuse.count(id) || imagePath.empty() || RunningFile(id) != imagePath) return false;
    terminated.push_back(id);
    exitCodes.push_back(exitCode);
    processes.erase(std::remove_if(processes.begin(), processes.end(),
                                   [id](const ProcessEntry& p) { return p.id == id; }),
                    processes.end());
    return true;
  }
  std::uint32_t CurrentProcessId() override { return ownId; }

 private:
  std::u16string RunningFile(std::uint32_t id) const {
    const auto now = runningNow.find(id);
    if (now != runningNow.end()) return now->second;
    for (const ProcessEntry& p : processes) {
      if (p.id == id) return p.imagePath;
    }
    return {};
  }
};

}  // namespace sealupdate
