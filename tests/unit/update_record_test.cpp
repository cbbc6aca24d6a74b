#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "fake_process_table.h"
#include "model/update_record.h"
#include "platform/files.h"
#include "scratch.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#endif

namespace sealupdate {
namespace {

TEST(UpdateRecord, PathFoldsDoubledSeparatorsButKeepsUncPrefix) {
  FakeProcessTable table;
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"D:\\Soft", u"D:\\Soft\\"},
      {u"C:\\", u"C:\\"},
      {u"\\\\srv\\share", u"\\\\srv\\share\\"},
      {u"\\\\srv\\share\\", u"\\\\srv\\share\\"},
  };
  for (const auto& [folder, path] : cases) EXPECT_EQ(UpdateRecord(folder, table).Path(), path);
  EXPECT_EQ(UpdateRecord().Path(), FolderOf(GetOwnExePath()) + u"\\");
}

TEST(UpdateRecord, AddressesAreTrimmedAndCompleted) {
  FakeProcessTable table;
  UpdateRecord info(u"D:\\Soft", table);
  // Empty lists: last index -1, no address, no save path.
  EXPECT_EQ(info.LastUpdateURLIndex(), -1);
  EXPECT_EQ(info.DownloadURL(), u"");
  EXPECT_EQ(info.SavePath(), u"");
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"  server/u.ini ", u"http://server/u.ini"},
      {u"HTTP://Server/u.ini", u"HTTP://Server/u.ini"},
      {u"https://server/u.ini", u"https://server/u.ini"},
      {u" HtTpS://Server/u.ini", u"HtTpS://Server/u.ini"},
      {u"ftp://server/u.ini", u"ftp://server/u.ini"},
      {u"svn+ssh://server/u", u"svn+ssh://server/u"},
      {u"https:/server", u"http://https:/server"},
      {u"server/a://b", u"http://server/a://b"},
      {u"://server", u"http://://server"},
  };
  for (const auto& [given, stored] : cases) {
    info.AddUpdateURL(given);
    info.AddDownloadURL(given);
    info.SetUpdateURLIndex(info.LastUpdateURLIndex());
    info.SetDownloadURLIndex(info.LastDownloadURLIndex());
    EXPECT_EQ(info.UpdateURL(), stored) << "given " << Utf16ToUtf8(given);
    EXPECT_EQ(info.DownloadURL(), stored) << "given " << Utf16ToUtf8(given);
  }
  // A blank update address is kept as "http://"; a blank download address is dropped.
  info.AddUpdateURL(u"");
  info.AddDownloadURL(u"   ");
  EXPECT_EQ(info.LastUpdateURLIndex(), 9);
  EXPECT_EQ(info.LastDownloadURLIndex(), 8);
  info.SetUpdateURLIndex(9);
  EXPECT_EQ(info.UpdateURL(), u"http://");
  // Lists only grow: a repeated address is appended again.
  info.AddDownloadURL(u"server/u.ini");
  EXPECT_EQ(info.LastDownloadURLIndex(), 9);

  info.SetDownloadURLIndex(10);
  EXPECT_THROW(info.DownloadURL(), std::out_of_range);
  EXPECT_THROW(info.SavePath(), std::out_of_range);
  info.SetUpdateURLIndex(-1);
  EXPECT_THROW(info.UpdateURL(), std::out_of_range);
}

TEST(UpdateRecord, MainExeNamesNeedExeSuffixAndModeClamps) {
  FakeProcessTable table;
  UpdateRecord info(u"D:\\Soft", table);
  for (auto name : {u" Main.EXE ", u"main", u"run.bat", u".exe", u"exe", u"", u"helper.exe"}) {
    info.AddMainExeName(name);
  }
  EXPECT_EQ(info.MainExeCount(), 3);
  EXPECT_EQ(info.FirstMainExeName(), u"Main.EXE");

  const std::pair<std::int32_t, std::int32_t> modes[] = {{-5, 0}, {0, 0}, {1, 1}, {2, 2}, {7, 2}};
  for (const auto& [set, read] : modes) {
    info.SetUpdateMode(set);
    EXPECT_EQ(info.UpdateMode(), read) << set;
  }
}

TEST(UpdateRecord, SavePathFollowsTheCurrentDownloadAddress) {
  FakeProcessTable table;
  UpdateRecord info(u"D:\\Soft\\", table);
  info.AddDownloadURL(u"http://server/dl/setup.bin");
  info.AddDownloadURL(u"mirror/dl/");
  EXPECT_EQ(info.SavePath(), u"D:\\Soft\\Update\\setup.bin");
  info.SetModifySuffix(u".exe");
  EXPECT_EQ(info.SavePath(), u"D:\\Soft\\Update\\setup.bin.exe");
  info.SetDownloadURLIndex(1);
  EXPECT_EQ(info.SavePath(), u"D:\\Soft\\Update\\.exe");
  info.SetModifySuffix(u"");
  EXPECT_EQ(info.SavePath(), u"");  // no name at all: the folder itself is never a target
}

TEST(UpdateRecord, PackageNamesThatCouldLeaveTheFolderAreRefused) {
  struct Case {
    const char16_t* url;
    const char16_t* suffix;
    const char16_t* name;  // nullptr: refused
  };
  const Case cases[] = {
      {u"http://h/dl/setup.bin", u".exe", u"setup.bin.exe"},
      {u"https://h/a/b/c.zip?x=/y#/z", u"", u"c.zip"},
      {u"http://h/%2e%2e%5cx.exe", u"", u"%2e%2e%5cx.exe"},  // never decoded
      {u"http://h/", u"setup.exe", u"setup.exe"},
      {u"http://h/..\\..\\outside\\victim.txt", u"", nullptr},
      {u"http://h/setup.exe", u"\\..\\..\\mainprog.exe", nullptr},
      {u"http://h/x", u"/../y.exe", nullptr},
      {u"http://h/setup", u":stream", nullptr},
      {u"http://h/C:evil.exe", u"", nullptr},
      {u"http://h/..", u"", nullptr},
      {u"http://h/.", u"", nullptr},
      {u"http://h/dl/", u"", nullptr},
      {u"http://h", u"", nullptr},
      {u"http://h/nul", u".exe", nullptr},
      {u"http://h/CON.txt", u"", nullptr},
      {u"http://h/Com1 .exe", u"", nullptr},
      {u"http://h/lpt9", u"", nullptr},
      {u"http://h/conout$", u"", nullptr},
      {u"http://h/com0", u"", nullptr},
      {u"http://h/COM\u00B9", u"", nullptr},
      {u"http://h/lpt\u00B2.txt", u"", nullptr},
      {u"http://h/com\u00B3", u"", nullptr},
      {u"http://h/console.exe", u"", u"console.exe"},
      {u"http://h/com10.exe", u"", u"com10.exe"},
      {u"http://h/coma", u"", u"coma"},
      {u"http://h/set up.exe", u"", u"set up.exe"},
      {u"http://h/setup.exe", u".", nullptr},
      {u"http://h/setup.exe ", u"", nullptr},
      {u"http://h/set\nup.exe", u"", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.url) + " + " + Utf16ToUtf8(c.suffix));
    const auto name = PackageFileName(c.url, c.suffix);
    if (c.name) {
      EXPECT_EQ(name, std::u16string(c.name));
    } else {
      EXPECT_EQ(name, std::nullopt);
    }
  }
}

TEST(UpdateRecord, OnlyWebAddressesAreWebAddresses) {
  for (const char16_t* yes : {u"http://h/", u"HTTPS://h", u"Http://"})
    EXPECT_TRUE(IsWebAddress(yes));
  for (const char16_t* no : {u"", u"http:/h", u"file:///C:/x.exe", u"C:\\x.exe", u" http://h",
                             u"mailto:a@b", u"https:"}) {
    EXPECT_FALSE(IsWebAddress(no)) << Utf16ToUtf8(no);
  }
}

TEST(UpdateRecord, IsNewerThanComparesFourNumericParts) {
  FakeProcessTable table;
  UpdateRecord info(u"D:\\Soft", table);
  struct Case {
    const char16_t* oldVer;
    const char16_t* newVer;
    bool newer;
  };
  const Case cases[] = {
      {u"1.0.0.9", u"1.0.1.0", true},    {u"2.0", u"1.9.9.9", false},
      {u"1.2.3.4", u"1.2.3.4", false},   {u"", u"0.0.0.1", true},
      {u"1.0.0.0", u"1.0.0.0.5", false}, {u"1.9", u"1.10", true},
      {u"1.2", u"1.2.0.0", false},       {u"", u"0.0.0.0", false},
      {u"1.30", u"1.3 1", true},         {u"1.31", u"1.3 1", false},
      {u"7.0", u"7a.1", true},           {u"8", u"7a.9", false},
      {u"1.0.0.2", u"1.0.0.1.9", false}, {u"1.-1", u"1.0", true},
      {u"1.2.5", u"1.2.4.5", false},     {u"1.&H10", u"1.15", false},
      {u"1.0.1", u"1.0.0.9", false},     {u"junk", u"0.0.0.1", true},
      {u"1.2", u"1.25E-1", false},  // 2.5 rounds to 2
      {u"1.3", u"1.35E-1", true},   // 3.5 rounds to 4

  };
  for (const Case& c : cases) {
    info.SetVersion(c.newVer);
    EXPECT_EQ(info.IsNewerThan(c.oldVer), c.newer)
        << Utf16ToUtf8(c.oldVer) << " -> " << Utf16ToUtf8(c.newVer);
  }
  info.SetVersion(u"1.0");
  EXPECT_EQ(info.IsNewerThan(u"1.2147483648"), std::nullopt);
  info.SetVersion(u"99999999999");
  EXPECT_EQ(info.IsNewerThan(u"1.0"), std::nullopt);
  info.SetVersion(u"2147483647.0.0.1");
  EXPECT_EQ(info.IsNewerThan(u"2147483647"), true);
}

// Every running process of a listed name whose file lies in the client's folder or below it is
// ended, except the client itself; one that refuses does not stop the walk.
TEST(UpdateRecord, KillEndsListedProcessesInTheClientFolderButNotTheClient) {
  FakeProcessTable table;
  table.ownId = 10;
  const std::u16string in = u"C:\\Program Files\\App\\";
  table.processes = {
      {10, u"update.exe", in + u"update.exe"},  // the client, although its name is listed
      {11, u"Main.exe", in + u"Main.exe"},
      {12, u"main.EXE", in + u"main.EXE"},  // refuses
      {13, u"other.exe", in + u"other.exe"},
      {14, u"MAIN.EXE", u"c:/PROGRAM FILES/app/bin/MAIN.EXE"},
      {15, u"helper.exe", in + u"helper.exe"},
      {16, u"notepad.exe", in + u"notepad.exe"},  // listed with a folder: no process matches
      {17, u"Update.exe", in + u"Update.exe"},    // another process of the client's name
      {18, u"main.exe", u"C:\\Program Files\\App2\\main.exe"},
      {19, u"main.exe", u"D:\\Program Files\\App\\main.exe"},
      {20, u"main.exe", u""},  // its file could not be read
      {21, u"main.exe", u"\\Device\\HarddiskVolume2\\Program Files\\App\\main.exe"},
  };
  table.refuse = {12};
  UpdateRecord info(u"C:\\Program Files\\App", table);
  for (auto name :
       {u"main.exe", u"C:\\Windows\\notepad.exe", u"UPDATE.EXE", u"absent.exe", u"Helper.exe"}) {
    info.AddMainExeName(name);
  }
  info.EndRunningPrograms();
  EXPECT_EQ(table.terminated, (std::vector<std::uint32_t>{11, 14, 17, 15}));
  EXPECT_EQ(table.exitCodes, (std::vector<std::uint32_t>(4, 0)));

  FakeProcessTable broken;
  broken.snapshotFails = true;
  broken.processes = {{20, u"main.exe", in + u"main.exe"}};
  UpdateRecord other(in, broken);
  other.AddMainExeName(u"main.exe");
  other.EndRunningPrograms();
  EXPECT_TRUE(broken.terminated.empty());
}

#ifdef _WIN32
// The real table lists this very process under its bare file name and the Win32 path of its file,
// and ends a process only while it runs the file it is told.
TEST(SystemProcessTable, ListsItselfWithItsFileAndChecksItBeforeEnding) {
  ProcessTable& system = SystemProcessTable();
  const auto snapshot = system.Snapshot();
  ASSERT_TRUE(snapshot.has_value());
  const std::uint32_t self = system.CurrentProcessId();
  const std::u16string ownPath = GetOwnExePath();
  bool listed = false;
  for (const ProcessEntry& e : *snapshot) {
    if (e.id == self) {
      listed = true;
      EXPECT_TRUE(EqualsIgnoreCase(e.exeName, FileNameOf(ownPath)));
      EXPECT_TRUE(EqualsIgnoreCase(e.imagePath, ownPath)) << Utf16ToUtf8(e.imagePath);
    }
    EXPECT_NE(e.imagePath.rfind(u"\\Device\\", 0), 0u)
        << "an NT path: " << Utf16ToUtf8(e.imagePath);
  }
  EXPECT_TRUE(listed);
  // Survived only because the file is checked on the opened process before it is ended; a fault
  // would end this run with exit code 91, never as a pass.
  EXPECT_FALSE(system.Terminate(self, FolderOf(ownPath) + u"\\other\\" + FileNameOf(ownPath), 91));
  EXPECT_FALSE(system.Terminate(self, u"", 91));
  EXPECT_FALSE(system.Terminate(0xFFFFFFF0u, ownPath, 0));  // no such process
}
#else
namespace fs = std::filesystem;

// Starts `exe` (a copy of sleep) and waits until the table lists it running that file.
pid_t StartSleeper(const fs::path& exe, ProcessTable& table) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(exe.c_str(), "upd_sleep.exe", "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const std::u16string image = Utf8ToUtf16(exe.string());
  for (int i = 0; i < 200 && child > 0; ++i) {
    const auto snapshot = table.Snapshot();
    for (const ProcessEntry& e : snapshot.value_or(std::vector<ProcessEntry>{})) {
      if (e.id == static_cast<std::uint32_t>(child) && e.exeName == u"upd_sleep.exe" &&
          e.imagePath == image) {
        return child;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ADD_FAILURE() << "not listed: " << exe;
  return child;
}

// The real table: of two children running copies of one ".exe", only the one in the client's
// folder is found and killed; the other is left running.
TEST(SystemProcessTable, EndsOnlyTheChildInTheClientFolder) {
  const fs::path scratch = NativePath(ScratchFolder());
  const fs::path inside = scratch / "app" / "upd_sleep.exe";
  const fs::path outside = scratch / "app2" / "upd_sleep.exe";
  for (const auto& exe : {inside, outside}) {
    fs::create_directories(exe.parent_path());
    fs::copy_file("/bin/sleep", exe);
  }
  ProcessTable& system = SystemProcessTable();
  EXPECT_EQ(system.CurrentProcessId(), static_cast<std::uint32_t>(::getpid()));
  const pid_t ours = StartSleeper(inside, system);
  const pid_t other = StartSleeper(outside, system);
  ASSERT_GT(ours, 0);
  ASSERT_GT(other, 0);
  EXPECT_FALSE(system.Terminate(0, Utf8ToUtf16(inside.string()), 0));  // never a process group
  EXPECT_FALSE(
      system.Terminate(static_cast<std::uint32_t>(other), Utf8ToUtf16(inside.string()), 0));

  UpdateRecord info(Utf8ToUtf16((scratch / "app").string()), system);
  info.AddMainExeName(u"UPD_SLEEP.EXE");
  info.EndRunningPrograms();
  // Our SIGTERM ends a child only when the client sent it no SIGKILL before.
  for (const auto& [child, killed] : {std::pair{ours, true}, std::pair{other, false}}) {
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == (killed ? SIGKILL : SIGTERM)) << child;
  }
}
#endif

}  // namespace
}  // namespace sealupdate
