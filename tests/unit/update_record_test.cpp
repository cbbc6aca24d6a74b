// The update record and the update document it is filled from.
#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "base/text.h"
#include "fake_process_table.h"
#include "model/update_document.h"
#include "model/update_record.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

TEST(UpdateRecord, PathsAddressesNamesAndMode) {
  FakeProcessTable table;
  for (const auto& [folder, path] :
       {std::pair{u"D:\\Soft", u"D:\\Soft\\"}, {u"\\\\srv\\share\\", u"\\\\srv\\share\\"}}) {
    EXPECT_EQ(UpdateRecord(folder, table).Path(), path);
  }
  EXPECT_EQ(UpdateRecord().Path(), FolderOf(GetOwnExePath()) + u"\\");

  UpdateRecord info(u"D:\\Soft", table);
  EXPECT_EQ(info.LastUpdateURLIndex(), -1);
  EXPECT_EQ(info.DownloadURL() + info.SavePath(), u"");
  // Trimmed; "http://" in front unless a scheme is named. Given and stored, split at "|".
  for (const char16_t* c :
       {u"  server/u.ini |http://server/u.ini", u" HtTpS://Server/u|HtTpS://Server/u",
        u"a-0.b+c://server/u|a-0.b+c://server/u", u"https:/server|http://https:/server",
        u"server/a://b|http://server/a://b", u"1a://server|http://1a://server",
        u"://server|http://://server"}) {
    const auto parts = Split(c, u"|");
    info.AddUpdateURL(parts[0]);
    info.AddDownloadURL(parts[0]);
    info.SetUpdateURLIndex(info.LastUpdateURLIndex());
    info.SetDownloadURLIndex(info.LastDownloadURLIndex());
    EXPECT_EQ(info.UpdateURL() + u"|" + info.DownloadURL(), parts[1] + u"|" + parts[1]);
  }
  // A blank update address is kept as "http://"; a blank download address is dropped.
  info.AddUpdateURL(u"");
  info.AddDownloadURL(u"   ");
  EXPECT_EQ(info.LastUpdateURLIndex() + info.LastDownloadURLIndex(), 7 + 6);
  info.SetUpdateURLIndex(7);
  EXPECT_EQ(info.UpdateURL(), u"http://");
  info.SetDownloadURLIndex(7);
  EXPECT_THROW(info.SavePath(), std::out_of_range);
  info.SetUpdateURLIndex(-1);
  EXPECT_THROW(info.UpdateURL(), std::out_of_range);

  for (auto name : {u" Main.EXE ", u"main", u"run.bat", u".exe", u"exe", u"", u"helper.exe"})
    info.AddMainExeName(name);
  EXPECT_EQ(info.MainExeCount(), 3);
  EXPECT_EQ(info.FirstMainExeName(), u"Main.EXE");
  for (const auto& [set, read] : {std::pair{-5, 0}, {0, 0}, {1, 1}, {2, 2}, {7, 2}}) {
    info.SetUpdateMode(set);
    EXPECT_EQ(info.UpdateMode(), read) << set;
  }

  info.SetDownloadURLIndex(0);
  info.SetModifySuffix(u".exe");
  EXPECT_EQ(info.SavePath(), u"D:\\Soft\\Update\\u.ini.exe");
  info.AddDownloadURL(u"mirror/dl/");
  info.SetDownloadURLIndex(7);
  EXPECT_EQ(info.SavePath(), u"D:\\Soft\\Update\\.exe");
  info.SetModifySuffix(u"");
  EXPECT_EQ(info.SavePath(), u"");  // no name at all: the folder itself is never a target
}

TEST(UpdateRecord, PackageNamesThatCouldLeaveTheFolderAreRefused) {
  // Address, suffix and name, split at "|": the name is never decoded.
  for (const char16_t* kept :
       {u"http://h/dl/setup.bin|.exe|setup.bin.exe", u"https://h/a/b/c.zip?x=/y#/z||c.zip",
        u"http://h/%2e%2e%5cx.exe||%2e%2e%5cx.exe", u"http://h/|setup.exe|setup.exe",
        u"h/x/console.exe||console.exe", u"http://h/com10.exe||com10.exe", u"http://h/coma||coma",
        u"http://h/set up.exe||set up.exe"}) {
    const auto parts = Split(kept, u"|");
    EXPECT_EQ(PackageFileName(parts[0], parts[1]), parts[2]) << Utf16ToUtf8(kept);
  }
  // Path after "http://h/" and suffix, split at "|".
  const char16_t* const refused[] = {
      u"x|/../y.exe",  u"setup|:stream",  u"C:evil.exe|",    u"..|",           u".|",
      u"dl/|",         u"nul|.exe",       u"CON.txt|",       u"Com1 .exe|",    u"lpt9|",
      u"conout$|",     u"com0|",          u"prn|",           u"aux|",          u"conin$|",
      u"COM\u00B9|",   u"com\u00B3|",     u"lpt\u00B2.txt|", u"setup.exe|.",   u"setup.exe |",
      u"set\nup.exe|", u"set\x1Fup.exe|", u"..\\a.exe|",     u"a|\\..\\b.exe",
  };
  for (const char16_t* address : refused) {
    const auto parts = Split(address, u"|");
    EXPECT_EQ(PackageFileName(u"http://h/" + parts[0], parts[1]), std::nullopt)
        << Utf16ToUtf8(address);
  }
  EXPECT_EQ(PackageFileName(u"http://h", u""), std::nullopt);  // the host is no name
  for (const auto& [url, web] : {std::pair{u"HTTPS://h", true},
                                 {u"Http://", true},
                                 {u"http:/h", false},
                                 {u"file:///C:/x.exe", false},
                                 {u" http://h", false},
                                 {u"https:", false}}) {
    EXPECT_EQ(IsWebAddress(url), web) << Utf16ToUtf8(url);
  }
}

TEST(UpdateRecord, IsNewerThanComparesFourNumericParts) {
  FakeProcessTable table;
  UpdateRecord info(u"D:\\Soft", table);
  const struct {
    const char16_t *oldVer, *newVer;
    bool newer;
  } cases[] = {
      {u"1.0.0.9", u"1.0.1.0", true},    {u"2.0", u"1.9.9.9", false},
      {u"1.2.3.4", u"1.2.3.4", false},   {u"", u"0.0.0.1", true},
      {u"1.0.0.0", u"1.0.0.0.5", false}, {u"1.9", u"1.10", true},
      {u"1.2", u"1.2.0.0", false},       {u"1.30", u"1.3 1", true},
      {u"7.0", u"7a.1", true},           {u"1.-1", u"1.0", true},
      {u"1.&H10", u"1.15", false},       {u"1.2", u"1.25E-1", false},
      {u"1.3", u"1.35E-1", true},  // 2.5 to 2, 3.5 to 4
  };
  for (const auto& c : cases) {
    info.SetVersion(c.newVer);
    EXPECT_EQ(info.IsNewerThan(c.oldVer), c.newer)
        << Utf16ToUtf8(c.oldVer) << " -> " << Utf16ToUtf8(c.newVer);
  }
  // Parts beyond 32 bits cannot be compared, on either side.
  for (const auto& [newVer, oldVer, newer] :
       {std::tuple{u"2147483647.0.0.1", u"2147483647", std::optional(true)},
        {u"1.0", u"1.2147483648", std::nullopt},
        {u"99999999999", u"1.0", std::nullopt}}) {
    info.SetVersion(newVer);
    EXPECT_EQ(info.IsNewerThan(oldVer), newer) << Utf16ToUtf8(newVer);
  }
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
  table.refuse.clear();
  table.snapshotFails = true;  // nothing to walk: nothing ended
  info.EndRunningPrograms();
  EXPECT_EQ(table.terminated.size(), 4u);
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
              EqualsIgnoreCase(e.imagePath, ownPath);
    EXPECT_NE(e.imagePath.rfind(u"\\Device\\", 0), 0u)
        << "an NT path: " << Utf16ToUtf8(e.imagePath);
  }
  EXPECT_EQ(listed, 1);
  // Survived only because the file is checked on the opened process before it is ended; a fault
  // would end this run with exit code 91, never as a pass.
  EXPECT_FALSE(system.Terminate(self, FolderOf(ownPath) + u"\\other\\" + FileNameOf(ownPath), 91));
  EXPECT_FALSE(system.Terminate(self, u"", 91));
  EXPECT_FALSE(system.Terminate(0xFFFFFFF0u, ownPath, 0));  // no such process
}
#endif

std::string Utf16Bytes(std::u16string_view text, bool bigEndian = false) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

TEST(UpdateDocument, ReadsEveryFieldWhateverTheEncodingAndLineEnds) {
  const std::u16string text =
      u"[UpdateInfo]\r\nVersion=2.1\r\nDownloadURL=http://a/x.bin|http://b/x.bin\r\n"
      u"MainExeName=主程序.exe\r\nKillExeName=helper.exe|tray.exe\r\nModifySuffix=.exe\r\n"
      u"HomeURL=http://home/\r\nUpdateText=修正{#br}若干问题\r\n";
  for (const std::string& bytes :
       {"\xEF\xBB\xBF" + Utf16ToUtf8(text),
        "\xEF\xBB\xBF" + Utf16ToUtf8(ReplaceAll(text, u"\r\n", u"\n")),
        "\xEF\xBB\xBF" + Utf16ToUtf8(ReplaceAll(text, u"\r\n", u"\r")), Utf16Bytes(text),
        Utf16Bytes(ReplaceAll(text, u"\r\n", u"\n"), true)}) {
    const auto d = ParseUpdateDocument(bytes);
    ASSERT_TRUE(d) << testing::PrintToString(bytes.substr(0, 24));
    EXPECT_EQ(Join(d->downloadUrls, u"|") + u";" + Join(d->mainExeNames, u"|") + u";" + d->version +
                  u";" + d->modifySuffix + u";" + d->homeUrl + u";" + d->updateText,
              u"http://a/x.bin|http://b/x.bin;主程序.exe|helper.exe|tray.exe;2.1;.exe;"
              u"http://home/;修正\r\n若干问题");
  }
#ifndef _WIN32  // the native build reads the ANSI code page as GBK
  EXPECT_EQ(DecodeUpdateDocument("\xD6\xD0\r\xD6\xD0"), u"中\r\n中");
#endif
  EXPECT_EQ(DecodeUpdateDocument("a\r\n\r\nb\n\rc"), u"a\r\n\r\nb\r\n\r\nc");
}

// An HTML page, gzip as it came, binary data, another section, no or no digit in the version.
TEST(UpdateDocument, AnswersThatAreNoDocumentAreRefused) {
  for (const std::string& bytes :
       {std::string(), std::string("<html><body>[UpdateInfo]\r\nVersion=1</body></html>"),
        std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00[UpdateInfo]", 20), std::string(4096, '\xA7'),
        std::string("[Other]\r\nVersion=2.0\r\n"), std::string("[UpdateInfo]\r\nVersion=\r\n"),
        std::string("[UpdateInfo]\r\nVersion=latest\r\n"),
        Utf16Bytes(u"[Other]\r\nVersion=1\r\n")}) {
    EXPECT_FALSE(ParseUpdateDocument(bytes)) << testing::PrintToString(bytes.substr(0, 40));
  }
  // The section name is matched without regard to case; a blank text is no text; one digit
  // is a version.
  const auto lower = ParseUpdateDocument("[updateinfo]\nversion=v0\nUpdateText=   \n");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->version + u"|" + lower->updateText, u"v0|");
  EXPECT_EQ(lower->downloadUrls, std::vector<std::u16string>{u""});
}

}  // namespace
}  // namespace sealupdate
