// A scripted process table: a fixed list of processes, the ids it was asked to end, and
// switches for the failures the real table can report.
#pragma once

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/processes.h"

namespace sealupdate {

struct FakeProcessTable : ProcessTable {
  std::vector<ProcessEntry> processes;
  std::uint32_t ownId = 1;
  std::optional<std::uint32_t> ownSession = 1;
  bool snapshotFails = false;
  std::set<std::uint32_t> refuse;  // ids whose termination fails
  std::vector<std::uint32_t> terminated, exitCodes;

  std::optional<std::vector<ProcessEntry>> Snapshot() override {
    return snapshotFails ? std::nullopt : std::optional(processes);
  }
  // Keeps the real tables' promise: only a process still running the expected file is ended.
  bool Terminate(std::uint32_t id, std::u16string_view imagePath, std::uint32_t exitCode) override {
    const auto it = std::find_if(processes.begin(), processes.end(), [&](const ProcessEntry& p) {
      return p.id == id && !refuse.count(id);
    });
    if (imagePath.empty() || it == processes.end() || it->imagePath != imagePath) return false;
    terminated.push_back(id);
    exitCodes.push_back(exitCode);
    processes.erase(it);
    return true;
  }
  std::uint32_t CurrentProcessId() override { return ownId; }
  std::optional<std::uint32_t> CurrentSession() override { return ownSession; }
};

}  // namespace sealupdate
