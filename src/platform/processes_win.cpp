#include "platform/processes.h"
#include "platform/win32.h"

#include <tlhelp32.h>

namespace sealupdate {
namespace {

class ToolhelpProcessTable final : public ProcessTable {
 public:
  std::optional<std::vector<ProcessEntry>> Snapshot() override {
    win::UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return std::nullopt;
    std::vector<ProcessEntry> entries;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
      entry.szExeFile[MAX_PATH - 1] = L'\0';  // the name ends at its NUL, whatever follows
      entries.push_back({static_cast<std::uint32_t>(entry.th32ProcessID),
                         win::FromWide(std::wstring_view(entry.szExeFile))});
      entry.dwSize = sizeof(entry);
    }
    return entries;
  }

  bool Terminate(std::uint32_t id, std::uint32_t exitCode) override {
    win::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
    if (!process) return false;
    return ::TerminateProcess(process.get(), exitCode) != FALSE;
  }

  std::uint32_t CurrentProcessId() override { return ::GetCurrentProcessId(); }
};

}  // namespace

ProcessTable& SystemProcessTable() {
  static ToolhelpProcessTable table;
  return table;
}

}  // namespace sealupdate
