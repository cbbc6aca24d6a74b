// The process table through Toolhelp, image paths and terminate-by-handle.
#include "platform/processes.h"
#include "platform/win32.h"

#include <tlhelp32.h>

#include "base/text.h"

namespace sealupdate {
namespace {

// The Win32 path of the process's executable (flag 0: "C:\...", never an NT "\Device\..." path);
// empty when it cannot be read. Wine does not report the size it needs, so the buffer grows
// until the path fits or the longest path would not.
std::u16string ImagePathOf(HANDLE process) {
  constexpr DWORD kLongestPath = 32768;
  for (DWORD capacity = MAX_PATH; capacity <= kLongestPath; capacity *= 2) {
    std::wstring buffer(capacity, L'\0');
    DWORD size = capacity;
    if (::QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) {
      buffer.resize(size);
      return win::FromWide(buffer);
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) break;
  }
  return {};
}

std::optional<std::uint32_t> SessionOf(DWORD id) {
  DWORD session = 0;
  if (!::ProcessIdToSessionId(id, &session)) return std::nullopt;
  return static_cast<std::uint32_t>(session);
}

std::u16string ImagePathOf(DWORD id) {
  win::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  return process ? ImagePathOf(process.get()) : std::u16string();
}

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
                         win::FromWide(std::wstring_view(entry.szExeFile)),
                         ImagePathOf(entry.th32ProcessID), SessionOf(entry.th32ProcessID)});
      entry.dwSize = sizeof(entry);
    }
    return entries;
  }

  // One handle serves the check and the termination: while it is open the process object lives
  // on, so its id cannot pass to another process between the two.
  bool Terminate(std::uint32_t id, std::u16string_view imagePath, std::uint32_t exitCode) override {
    if (imagePath.empty()) return false;
    win::UniqueKernelHandle process(
        ::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    if (!process || !EqualsIgnoreCase(ImagePathOf(process.get()), imagePath)) return false;
    return ::TerminateProcess(process.get(), exitCode) != FALSE;
  }

  std::uint32_t CurrentProcessId() override { return ::GetCurrentProcessId(); }
  std::optional<std::uint32_t> CurrentSession() override {
    return SessionOf(::GetCurrentProcessId());
  }
};

}  // namespace

ProcessTable& SystemProcessTable() {
  static ToolhelpProcessTable table;
  return table;
}

}  // namespace sealupdate
