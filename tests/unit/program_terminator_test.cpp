// Ending the main program's processes: only inside the client's folder, never the client.
#include "model/program_terminator.h"

#include <gtest/gtest.h>

#include "fake_process_table.h"

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
  ProgramTerminator programs(table, in);
  const std::vector<std::u16string> names = {u"main.exe", u"C:\\Windows\\notepad.exe",
                                             u"UPDATE.EXE", u"absent.exe", u"Helper.exe"};
  // The main program first, then the others in the order listed.
  EXPECT_EQ(programs.EndAll(names), (std::vector<std::uint32_t>{11, 14, 17, 15}));
  EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{11, 14, 17, 15}));
  EXPECT_EQ(table.exitCodes, (std::vector<std::uint32_t>(4, 0)));
  table.refuse.clear();
  table.ownSession = std::nullopt;  // its own session unknown: nobody's work is ended
  EXPECT_TRUE(programs.EndAll(names).empty());
  table.ownSession = 2;
  EXPECT_EQ(programs.EndAll(names), std::vector<std::uint32_t>{13});
  table.snapshotFails = true;  // nothing to walk: nothing ended
  EXPECT_TRUE(programs.EndAll(names).empty());
}

}  // namespace
}  // namespace sealupdate
