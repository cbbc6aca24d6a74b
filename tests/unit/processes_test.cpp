// The system's process table, checked on the real system.
#include "platform/processes.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

#ifdef _WIN32
// The real table lists this very process under its bare file name and the Win32 path of its file,
// and ends a process only while it runs the file it is told.
TEST(SystemProcessTable, ListsItselfWithItsFileAndChecksItBeforeEnding) {
  ProcessTable& system = SystemProcessTable();
  const std::uint32_t self = system.CurrentProcessId();
  const std::u16string ownPath = GetOwnExePath();
  int listed = 0;
  const auto snapshot = system.Snapshot();
  ASSERT_TRUE(snapshot.has_value());
  for (const ProcessEntry& e : *snapshot) {
    listed += e.id == self && EqualsIgnoreCase(e.exeName, FileNameOf(ownPath)) &&
              EqualsIgnoreCase(e.imagePath, ownPath) && e.session &&
              e.session == system.CurrentSession();
    EXPECT_NE(e.imagePath.rfind(u"\\Device\\", 0), 0u)
        << "an NT path: " << Utf16ToUtf8(e.imagePath);
  }
  EXPECT_EQ(listed, 1);
  // Survived only because the file is checked on the opened process before it is ended; a fault
  // would end this run with exit code 91, never as a pass.
  EXPECT_FALSE(system.Terminate(self, FolderOf(ownPath) + u"\\other\\" + FileNameOf(ownPath), 91));
  EXPECT_FALSE(system.Terminate(self, u"", 91));
}
#endif

}  // namespace
}  // namespace sealupdate
