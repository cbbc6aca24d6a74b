// Ending the main program's processes: only inside the client's folder, never the client; and
// the system's process table they are found in.
#include "model/program_terminator.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "fake_process_table.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

// Every running process of a listed name whose file lies in the client's folder or below it and
// that runs in the client's session is ended, except the client itself; one that refuses does not
// stop the walk.
TEST(ProgramTerminator, EndsListedProcessesOfThisInstallationAndSessionButNotTheClient) {
  FakeProcessTable table;
  table.ownId = 10;
  const std::u16string in = u"C:\\Program Files\\App\\";
  table.processes = {
      {10, u"update.exe", in + u"update.exe", 1},  // the client, although its name is listed
      {11, u"Main.exe", in + u"Main.exe", 1},
      {12, u"main.EXE", in + u"main.EXE", 1},  // refuses
      {13, u"main.exe", in + u"main.exe", 2},  // another user's, on a terminal server
      {14, u"MAIN.EXE", u"c:/PROGRAM FILES/app/bin/MAIN.EXE", 1},
      {15, u"helper.exe", in + u"helper.exe", 1},
      {16, u"notepad.exe", in + u"notepad.exe", 1},  // listed with a folder: no process matches
      {17, u"Update.exe", in + u"Update.exe", 1},    // another process of the client's name
      {18, u"main.exe", in + u"main.exe", std::nullopt},  // its session could not be read
      {20, u"main.exe", u"", 1},                          // its file could not be read
      {21, u"main.exe", u"\\Device\\HarddiskVolume2\\Program Files\\App\\main.exe", 1},
  };
  table.refuse = {12};
  std::vector<std::string> trail;
  ProgramTerminator programs(table, in, Trail([&](const std::string& l) { trail.push_back(l); }));
  const std::vector<std::u16string> names = {u"main.exe", u"C:\\Windows\\notepad.exe",
                                             u"UPDATE.EXE", u"absent.exe", u"Helper.exe"};
  // The main program first, then the others in the order listed; the trail tells each one.
  EXPECT_EQ(programs.EndAll(names), (std::vector<std::uint32_t>{11, 14, 17, 15}));
  EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{11, 14, 17, 15}));
  EXPECT_EQ(table.exitCodes, (std::vector<std::uint32_t>(4, 0)));
  const std::string left = "sealupdate: left main.exe (pid ";
  EXPECT_EQ(
      trail,
      (std::vector<std::string>{
          "sealupdate: ended Main.exe (pid 11)",
          "sealupdate: left main.EXE (pid 12) running: could not be ended",
          left + "13) running: another session", "sealupdate: ended MAIN.EXE (pid 14)",
          left + "18) running: another session", left + "20) running: outside the client's folder",
          left + "21) running: outside the client's folder",
          "sealupdate: ended Update.exe (pid 17)", "sealupdate: ended helper.exe (pid 15)"}));
  table.refuse.clear();
  table.ownSession = std::nullopt;  // its own session unknown: nobody's work is ended
  EXPECT_TRUE(programs.EndAll(names).empty());
  EXPECT_EQ(trail.back(), "sealupdate: own session unknown: no program ended");
  table.ownSession = 2;
  EXPECT_EQ(programs.EndAll(names), std::vector<std::uint32_t>{13});
  table.snapshotFails = true;  // nothing to walk: nothing ended
  trail.clear();
  EXPECT_TRUE(programs.EndAll(names).empty());
  EXPECT_EQ(trail, std::vector<std::string>{"sealupdate: no process list: no program ended"});
}

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
