// Start-up: the cipher, the sealed block at the end of the client, the configuration and mode;
// the INI store they are read with, the update record they fill and the update document that
// fills it later.
#include "startup/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <tuple>
#include <utility>

#include "base/encoding.h"
#include "base/text.h"
#include "fake_process_table.h"
#include "model/ini_document.h"
#include "model/update_document.h"
#include "model/update_record.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "scratch.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace sealupdate {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) { return HexDecode(hex).value_or(Bytes()); }

Bytes Encipher(Bytes data, const Bytes& key, bool decipher = false) {
  const auto blocks = decipher ? DecipherBlocks : EncipherBlocks;
  blocks(data.data(), data.data(), key.data(), static_cast<std::uint32_t>(data.size()));
  return data;
}

const Bytes kKey = FromHex("0123456712345678234567893456789A");

// Published TEA vectors (big-endian words): with both chaining values zero, the first block of
// the chain is plain TEA. Later blocks chain as C1 = E(P1 ^ C0) ^ P0; a remainder stays as it is.
TEST(Tea, MatchesPublishedVectorsAndChainsInInfiniteGarbleExtensionMode) {
  const char* const vectors[][3] = {
      {"00000000000000000000000000000000", "0000000000000000", "41ea3a0a94baa940"},
      {"00000000000000000000000000000000", "0102030405060708", "6a2f9cf3fccf3c55"},
      {"0123456712345678234567893456789A", "0000000000000000", "34e943b0900f5dcb"},
      {"0123456712345678234567893456789A", "0102030405060708", "773dc179878a81c0"},
  };
  for (const auto& [key, plain, cipher] : vectors) {
    EXPECT_EQ(Encipher(FromHex(plain), FromHex(key)), FromHex(cipher)) << plain;
    EXPECT_EQ(Encipher(FromHex(cipher), FromHex(key), true), FromHex(plain)) << cipher;
  }
  Bytes plain(21, 0xEE), second(8);
  for (std::size_t i = 0; i < 16; ++i) plain[i] = static_cast<std::uint8_t>(i * 37 + 1);
  const Bytes cipher = Encipher(plain, kKey);
  for (std::size_t i = 0; i < 8; ++i) second[i] = plain[8 + i] ^ cipher[i];
  second = Encipher(second, kKey);
  for (std::size_t i = 0; i < 8; ++i) second[i] ^= plain[i];
  EXPECT_EQ(Bytes(cipher.begin() + 8, cipher.begin() + 16), second);
  EXPECT_EQ(Bytes(cipher.begin() + 16, cipher.end()), Bytes(5, 0xEE));
  EXPECT_EQ(Encipher(cipher, kKey, true), plain);
}

// A frame of n bytes with pad count p (the header's low bits) and the given content.
Bytes Frame(std::size_t n, std::uint8_t header, const Bytes& content) {
  Bytes frame(n, 0);
  frame[0] = header;
  for (std::size_t i = 1; i < 3u + (header & 7u); ++i) frame[i] = 0xA5;
  std::copy(content.begin(), content.end(), frame.begin() + 3 + (header & 7));
  return Encipher(frame, kKey);
}

TEST(Tea, FramesCheckTheirLengthPaddingAndKey) {
  const Bytes eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(DecipherBytes(Frame(24, 0xF3, eleven), kKey.data()), eleven);  // content at 6
  Bytes longKey = kKey;
  longKey.resize(32, 0x5A);  // key bytes from 16 on are ignored
  EXPECT_EQ(DecipherBytes(Frame(24, 0x03, eleven), longKey.data()), eleven);
  for (const Bytes& refused : {Frame(16, 0x06, {}), Frame(16, 0x07, {}), Bytes(8), Bytes(20),
                               Bytes(), Frame(24, 0x04, eleven)}) {
    EXPECT_TRUE(DecipherBytes(refused, kKey.data()).empty()) << refused.size();
  }

  std::uint8_t counter = 0;
  const auto random = [&counter] { return counter += 0x3B; };
  for (Bytes content; content.size() <= 40; content.push_back(std::uint8_t(content.size() + 1))) {
    const Bytes block = FrameAndEncipher(content, kKey.data(), random);
    // The smallest frame that fits: a multiple of 8, at least 16 bytes.
    EXPECT_EQ(block.size(), std::max<std::size_t>(16, (content.size() + 17) / 8 * 8));
    EXPECT_EQ(DecipherBytes(block, kKey.data()), content) << content.size();
  }
}

TEST(SealedBlock, LengthFieldAndTrailer) {
  const std::pair<std::string, std::int64_t> fields[] = {
      {"         F", 15}, {"       FFF", 4095},       {" \t1 2\n  ab", 0x12AB},
      {"        1G", 1},  {"  7FFFFFFF", 0x7FFFFFFF}, {"         0", 0},
      {"    garbage", 0}, {"  80000000", 0},          {"FFFFFFFFFF", 0},
  };
  for (const auto& [field, value] : fields) EXPECT_EQ(ParseLengthField(field), value) << field;
  EXPECT_EQ(MakeSealedTrailer(Bytes(16, 0xC0)),
            std::string(16, '\xC0') + "         F" + std::string(kSealTailLength, '\0'));
  EXPECT_EQ(MakeSealedTrailer(Bytes(4096)).substr(4096, 10), "       FFF");
}

TEST(Startup, SettlesTheModeFromTheCommandLineOrTheConfiguration) {
  // Command line, configured mode, mode.
  const std::tuple<const char16_t*, const char16_t*, std::int32_t> cases[] = {
      {u"  1  ", u"0", 1}, {u"7", u"0", 2},   {u"-3", u"2", 0},   {u"now", u"2", 0},
      {u"2.5", u"0", 2},   {u"0.5", u"2", 0}, {u"   ", u"2", 2},  {u"", u"1", 1},
      {u"", u"x", 0},      {u"&H1", u"0", 1}, {u"1e10", u"0", 2}, {u"", u"99999999999", 2},
  };
  for (const auto& [commandLine, configured, mode] : cases)
    EXPECT_EQ(SettleUpdateMode(commandLine, configured), mode) << Utf16ToUtf8(commandLine);
}

TEST(Startup, FillsTheRecordFromTheSealedConfigurationOrNothing) {
  const std::u16string folder = ScratchFolder(), path = folder + u"\\startup_test_client.exe";
  FakeProcessTable processes;
  SealKey key = BuildSealKey();
  const auto load = [&](std::u16string_view commandLine) {
    return LoadStartupState(path, commandLine, key,
                            std::make_unique<UpdateRecord>(folder, processes));
  };
  const std::string ansi = Utf16ToAnsi(
      u"[UpdateInfo]\r\nSoftName=示例程序\r\nHomeURL=http://example.test/\r\n"
      u"UpdateURL=  a.test/u.ini | |https://b.test/u.ini|\r\nUpdateText=第一行{#br}第二行\r\n"
      u"UpdateMode=1\r\n");
  const auto block =
      FrameAndEncipher(Bytes(ansi.begin(), ansi.end()), key.data(), [] { return std::uint8_t{7}; });
  ASSERT_TRUE(WriteWholeFile(path, std::string(5000, 'M') + MakeSealedTrailer(block)));
  const StartupState state = load(u"");
  ASSERT_EQ(state.info->LastUpdateURLIndex(), 1);
  std::u16string urls = state.info->UpdateURL();
  state.info->SetUpdateURLIndex(1);
  EXPECT_EQ(
      state.info->SoftName() + u"|" + state.info->HomeURL() + u"|" + urls + u"|" +
          state.info->UpdateURL() + u"|" + state.info->UpdateText(),
      u"示例程序|http://example.test/|http://a.test/u.ini|https://b.test/u.ini|第一行\r\n第二行");
  EXPECT_EQ(state.mode + state.info->UpdateMode(), 2);
  EXPECT_EQ(load(u" 2 ").mode, 2);

  key[5] ^= 1;  // sealed with another key: deciphers to garbage, which is refused
  const StartupState none = load(u"");
  EXPECT_EQ(none.info->SoftName() + u"|" + none.info->HomeURL(), u"|");
  EXPECT_EQ(none.info->LastUpdateURLIndex() + none.mode, -1);
  ASSERT_TRUE(WriteWholeFile(path, ""));
  EXPECT_EQ(load(u"1").mode, 1);
}

// ---- The INI store the configuration and the update document are read with ----

using Names = std::vector<std::u16string>;

IniDocument Store(std::u16string_view text) {
  IniDocument ini(u"unused");
  ini.SetAutoSave(false);
  ini.SetText(text);
  return ini;
}

TEST(IniDocument, NormalizesAssignedText) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"  [ Main ]x\r\nName = Foo Bar \r\njunk\r\n[]\r\n[abc\r\n\r\n[Other]\r\nk==v",
       u"[Main]\r\nName= Foo Bar \r\njunk\r\n\r\n[Other]\r\nk==v"},
      {u"[A]\nk=v", u"[A]"},  // only CR LF separates lines
      {u"x=1\r\n[A]\r\n[B]\r\n\r\n\r\n[C]", u"x=1\r\n[A]\r\n\r\n[B]\r\n\r\n[C]"},
  };
  for (const auto& [input, body] : cases) EXPECT_EQ(Store(input).Text(), body);
  IniDocument ini = Store(u"[A]\r\nk=v");
  ini.SetText(u"   ");  // blank text keeps the document
  EXPECT_EQ(ini.GetKey(u"A", u"k", u"d"), u"v");
}

TEST(IniDocument, GetKeyMatchesNamesWithoutCaseButUntrimmed) {
  const IniDocument ini = Store(
      u"junk=0\r\n  [ A ]  \r\n  k  =  v  \r\nEmpty=\r\nbr=one{#br}two\r\nBR2=one{#BR}two\r\n"
      u"eq=a=b\r\ncomment\r\nk=second\r\n[a]\r\nk=other\r\n[Ü]\r\nx=1");
  // The first key of the first section; an empty value reads as missing; the break mark's case
  // counts; caller names are not trimmed; case folding beyond ASCII; lines before the first
  // header belong to no section.
  const std::tuple<std::u16string, std::u16string, std::u16string> cases[] = {
      {u"a", u"K", u"  v  "},       {u"A", u"empty", u"d"},
      {u"A", u"br", u"one\r\ntwo"}, {u"a", u"br2", u"one{#BR}two"},
      {u"A", u"eq", u"a=b"},        {u" a", u"k", u"d"},
      {u"ü", u"X", u"1"},           {u"A", u"junk", u"d"},
  };
  for (const auto& [app, key, expected] : cases)
    EXPECT_EQ(ini.GetKey(app, key, u"d"), expected) << Utf16ToUtf8(app + u"/" + key);
  EXPECT_EQ(ini.SectionNames(), (Names{u"A", u"a", u"Ü"}));
  EXPECT_EQ(ini.KeyNames(u"a"), (Names{u"k", u"Empty", u"br", u"BR2", u"eq", u"k"}));
}

// The whole text after edits (no caller edits; the random edits below check what they read):
// new keys lower-case at the end of their section, a new section at the end after an empty
// line; a key name holding line breaks must still cut at line boundaries; removing the last
// section keeps the lines in front.
TEST(IniDocument, EditsKeepTheLayout) {
  IniDocument ini = Store(u"junk\r\n[Sec]\r\nKey=1\r\n[B]\r\nb=2");
  ini.SetKey(u"Sec", u"New", u"2");
  ini.SetKey(u"sEC", u"KEY", u"a\r\nb");
  ini.SetKey(u"Other", u"k", u"");
  ini.RemoveKey(u"b", u"B");
  ini.SetKey(u"A", u"k\r\n[C]\r\nx", u"1");
  ini.SetKey(u"A", u"n", u"2");
  EXPECT_EQ(ini.Text(),
            u"junk\r\n[Sec]\r\nKey=a{#br}b\r\nnew=2\r\n\r\n\r\n[B]\r\n\r\n[A]\r\nk\r\nn="
            u"2\r\n\r\n[C]\r\nx=1");
  ini.RemoveSection(u"c");
  ini.RemoveSection(u"SEC");
  EXPECT_EQ(ini.Text(), u"junk\r\n[B]\r\n\r\n[A]\r\nk\r\nn=2");
  for (const char16_t* section : {u"B", u"A"}) ini.RemoveSection(section);
  EXPECT_EQ(ini.Text(), u"junk");
}

// On disk: relative paths, ANSI text, and every edit saved while auto-save is on.
TEST(IniDocument, LoadsSavesAndAutoSavesAnsiFiles) {
  const std::u16string folder = ScratchFolder();
  const std::string gbk = "\xD6\xD0\xCE\xC4";  // "中文"
  if (Utf16ToAnsi(u"中文") != gbk) GTEST_SKIP() << "ANSI code page is not 936";
  ASSERT_TRUE(WriteWholeFile(folder + u"\\cfg.ini", "[Info]\r\nName =" + gbk + "\r\n"));
  IniDocument ini(folder);
  ini.SetPath(u"abc");  // too short, and a folder path: nothing
  ini.SetPath(u"cfg.ini\\");
  EXPECT_EQ(ini.Path(), u"");
  ini.SetPath(u"  cfg.ini ");
  EXPECT_EQ(ini.Path() + ini.GetKey(u"info", u"name", u""), folder + u"\\cfg.ini中文");
  ASSERT_TRUE(ini.Save(folder + u"\\out.ini"));
  EXPECT_EQ(ReadWholeFile(folder + u"\\out.ini"), "[Info]\r\nName=" + gbk);
  EXPECT_FALSE(ini.Save(folder + u"\\no-such-folder\\x.ini") || IniDocument(folder).Save(u""));
  ini.SetKey(u"Info", u"k", u"2");
  ini.RemoveKey(u"Info", u"Name");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[Info]\r\nk=2");
  ini.SetAutoSave(false);
  ini.RemoveSection(u"Info");
  EXPECT_EQ(ReadWholeFile(folder + u"\\cfg.ini"), "[Info]\r\nk=2");
}

// Random edits against a plain model: every read must agree.
TEST(IniDocument, RandomEditsAgreeWithAModel) {
  using Keys = std::vector<std::pair<std::u16string, std::u16string>>;
  const Names apps = {u"Sec", u"sEC", u"A", u"Ä", u"ä", u"中"}, keys = {u"Key", u"KEY", u"k", u"ü"};
  const Names pieces = {u"a", u"Z", u" ", u"=", u"[", u"]", u"\r\n", u"\r", u"\n", u"值"};
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](const Names& from) { return from[rng() % from.size()]; };
    const auto same = [](const std::u16string& name) {
      return [&name](const auto& entry) { return EqualsIgnoreCase(entry.first, name); };
    };
    IniDocument ini = Store(u"");
    std::vector<std::pair<std::u16string, Keys>> model;
    for (int step = 0; step < 150; ++step) {
      const std::u16string app = pick(apps), key = pick(keys);
      const auto section = std::find_if(model.begin(), model.end(), same(app));
      Keys* pairs = section == model.end() ? nullptr : &section->second;
      const auto found =
          pairs ? std::find_if(pairs->begin(), pairs->end(), same(key)) : Keys::iterator();
      const bool hasKey = pairs && found != pairs->end();
      const unsigned op = rng() % 7;  // 0-3 write, 4 removes a key, 5 a section, 6 re-reads
      std::u16string value;
      for (unsigned n = op < 4 ? rng() % 5 : 0; n > 0; --n) value += pick(pieces);
      if (op < 4) ini.SetKey(app, key, value);
      if (op == 4) ini.RemoveKey(app, key);
      if (op == 5) ini.RemoveSection(app);
      if (op == 6) ini.SetText(ini.Text());
      if (op == 4 && hasKey) pairs->erase(found);
      if (op == 5 && pairs) model.erase(section);
      if (op < 4 && !value.empty() && !pairs) model.push_back({app, {{key, value}}});
      if (op < 4 && !value.empty() && pairs && !hasKey)
        pairs->emplace_back(ToLowerUnits(key), value);
      if (op < 4 && !value.empty() && hasKey) found->second = value;
      SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
      Names names;
      for (const auto& [name, entries] : model) {
        names.push_back(name);
        Names keyNames;
        for (const auto& [k, v] : entries) {
          keyNames.push_back(k);
          ASSERT_EQ(ini.GetKey(name, k, u"-"), v);
        }
        ASSERT_EQ(ini.KeyNames(name), keyNames);
      }
      ASSERT_EQ(ini.SectionNames(), names);
    }
  }
}

// ---- The update record and the update document it is filled from ----

TEST(UpdateRecord, PathsAddressesNamesAndMode) {
  FakeProcessTable table;
  EXPECT_EQ(UpdateRecord(u"D:\\Soft", table).Path() + UpdateRecord(u"\\\\srv\\s\\", table).Path() +
                UpdateRecord().Path(),
            u"D:\\Soft\\\\\\srv\\s\\" + FolderOf(GetOwnExePath()) + u"\\");

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
  std::u16string modes;
  for (int set : {-5, 0, 1, 2, 7})
    info.SetUpdateMode(set), modes += char16_t(u'0' + info.UpdateMode());
  EXPECT_EQ(info.FirstMainExeName() + u"|" + char16_t(u'0' + info.MainExeCount()) + u"|" + modes,
            u"Main.EXE|3|00122");

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
  // Local version, advertised version, newer.
  const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
      {u"1.0.0.9", u"1.0.1.0", true},    {u"2.0", u"1.9.9.9", false},
      {u"1.2.3.4", u"1.2.3.4", false},   {u"", u"0.0.0.1", true},
      {u"1.0.0.0", u"1.0.0.0.5", false}, {u"1.9", u"1.10", true},
      {u"1.2", u"1.2.0.0", false},       {u"1.30", u"1.3 1", true},
      {u"7.0", u"7a.1", true},           {u"1.&H10", u"1.15", false},
      {u"1.2", u"1.25E-1", false},       {u"1.3", u"1.35E-1", true},  // 2.5 to 2, 3.5 to 4
  };
  for (const auto& [oldVer, newVer, newer] : cases) {
    info.SetVersion(newVer);
    EXPECT_EQ(info.IsNewerThan(oldVer), newer)
        << Utf16ToUtf8(oldVer) << " -> " << Utf16ToUtf8(newVer);
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
      {14, u"MAIN.EXE", u"c:/PROGRAM FILES/app/bin/MAIN.EXE"},
      {15, u"helper.exe", in + u"helper.exe"},
      {16, u"notepad.exe", in + u"notepad.exe"},  // listed with a folder: no process matches
      {17, u"Update.exe", in + u"Update.exe"},    // another process of the client's name
      {20, u"main.exe", u""},                     // its file could not be read
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

// gzip as it came, binary data, another section, no digit in the version (a page from a captive
// portal is refused in the flow test).
TEST(UpdateDocument, AnswersThatAreNoDocumentAreRefused) {
  for (const std::string& bytes :
       {std::string(), std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00[UpdateInfo]", 20),
        std::string(4096, '\xA7'), std::string("[UpdateInfo]\r\nVersion=latest\r\n"),
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
