#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "model/version_info.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

std::u16string FixturePath(std::u16string_view name) {
  return FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\" + std::u16string(name);
}

std::string FixtureBytes(std::u16string_view name) {
  return ReadWholeFile(FixturePath(name)).value_or("");
}

// Fields the reader must never invent: a record that comes back with these was not touched.
VersionInfo Sentinel() {
  VersionInfo info;
  info.FileName = info.FilePath = info.FileVersion = info.FileFlags = info.FileOS = u"keep";
  info.FileType = info.FileSubtype = info.StrucVersion = info.ProductVersion = u"keep";
  info.FileDescription = info.ProductName = info.OriginalFilename = u"keep";
  info.InternalName = info.CompanyName = info.LegalCopyright = u"keep";
  info.FileSize = -7;
  return info;
}

std::vector<std::u16string> Fields(const VersionInfo& i) {
  return {
      i.FileName,        i.FilePath,    std::u16string(u"size"), i.FileVersion,  i.FileFlags,
      i.FileOS,          i.FileType,    i.FileSubtype,           i.StrucVersion, i.ProductVersion,
      i.FileDescription, i.ProductName, i.OriginalFilename,      i.InternalName, i.CompanyName,
      i.LegalCopyright};
}

// Expected values are the ones written in tests/fixtures/pe/<name>.rc.
struct FixtureCase {
  std::u16string name;
  std::vector<std::u16string> fields;  // 4 to 16, in record order
};

TEST(VersionInfo, ReadsEveryFieldOfTheFixtures) {
  const FixtureCase cases[] = {
      {u"en_app.exe",  // x86_64 EXE
       {u"1.2.3.4", u"Debug Private ", u"NT-Win32操作系统", u"应用程序", u"", u"1.0",
        u"1.0.40000.0", u"Fixture application", u"Fixture Suite", u"en_app.exe", u"en_app",
        u"Fixture Works Ltd.", u"© 2024 Fixture Works"}},
      {u"zh_lib.dll",  // i686 DLL, Chinese table without FileDescription
       {u"65535.32768.0.7", u"Debug PreRel Patched Private Info Special ", u"Win32位操作系统",
        u"动态连接库", u"", u"1.0", u"2.5.0.0", u"", u"示例套件", u"zh_lib.dll", u"中文库",
        u"示例软件有限公司", u"版权所有 (C) 2024 示例软件"}},
      {u"case_app.exe",  // i686 EXE, table "040904b0" found for the key 040904B0
       {u"3.0.0.1", u"", u"未知操作系统", u"未知", u"", u"1.0", u"3.0.0.0",
        u"Table named in lower case", u"Case Test", u"case_app.exe", u"case_app",
        u"Lower Case Inc.", u"Public domain"}},
      {u"display_driver.dll",  // x86_64 DLL, key 04090000
       {u"10.0.19041.1", u"PreRel ", u"NT-Win32操作系统", u"驱动程序", u"显示驱动程序", u"1.0",
        u"10.0.19041.1", u"Display driver fixture", u"Display Driver", u"display_driver.dll",
        u"display_driver", u"Display Makers", u"(C) Display Makers"}},
      {u"other_driver.dll",  // i686 DLL, subtype 12, first translation without a table
       {u"0.0.0.0", u"Patched Info ", u"OS/2-16 PM-32操作系统", u"驱动程序", u"驱动程序", u"1.0",
        u"0.0.0.1", u"", u"", u"", u"", u"", u""}},
      {u"multi_lang.dll",  // x86_64 DLL, German first, then U.S. English
       {u"4.3.2.1", u"", u"NT-Win32操作系统", u"动态连接库", u"", u"1.0", u"4.3.2.1", u"",
        u"English", u"", u"", u"English Company", u""}},
  };
  for (const FixtureCase& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.name));
    const std::u16string path = FixturePath(c.name);
    const auto bytes = ReadWholeFile(path);
    ASSERT_TRUE(bytes.has_value()) << "fixture missing";
    const auto info = ReadVersionInfo(u"  " + path + u" ");  // spaces around are ignored
    ASSERT_TRUE(info);
    std::vector<std::u16string> expected = {c.name, path, u"size"};
    expected.insert(expected.end(), c.fields.begin(), c.fields.end());
    EXPECT_EQ(Fields(*info), expected);
    EXPECT_EQ(info->FileSize, static_cast<std::int32_t>(bytes->size()));
  }
}

TEST(VersionInfo, FilesWithoutAVersionResourceGiveNothing) {
  const std::u16string text = FolderOf(GetOwnExePath()) + u"\\pe_info_test_plain.txt";
  ASSERT_TRUE(WriteWholeFile(text, "MZ is how this plain text file starts\r\n"));
  const std::u16string paths[] = {FixturePath(u"no_version.exe"), text, FixturePath(u"missing.exe"),
                                  FolderOf(GetOwnExePath())};
  for (const std::u16string& path : paths) {
    EXPECT_FALSE(ReadVersionInfo(path)) << Utf16ToUtf8(path);
  }
}

#ifndef _WIN32
TEST(VersionInfo, SizeOfAFileBeyondTwoGibibytesSaturates) {
  const std::u16string path = FolderOf(GetOwnExePath()) + u"\\pe_info_test_big.exe";
  ASSERT_TRUE(WriteWholeFile(path, FixtureBytes(u"en_app.exe")));
  const std::string native = Utf16ToUtf8(ReplaceAll(path, u"\\", u"/"));
  std::filesystem::resize_file(native, 0x80000010ull);  // sparse
  const auto info = ReadVersionInfo(path);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->FileSize, INT32_MAX);
  EXPECT_EQ(info->FileVersion, u"1.2.3.4");
  std::filesystem::remove(native);
}
#endif

// Cut images: the resource is found only when all of it is there, and reading what is found
// never reads outside the bytes (ASan builds check that; the fuzz target damages images more).
TEST(VersionInfo, CutImagesNeverReadOutsideTheirBytes) {
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll"}) {
    const std::string image = FixtureBytes(name);
    ASSERT_FALSE(image.empty());
    MemoryByteView whole(image);
    const auto resource = FindVersionResource(whole);
    ASSERT_TRUE(resource.has_value());
    const std::size_t at = image.find(resource->substr(0, 64));
    ASSERT_NE(at, std::string::npos);

    for (std::size_t length = 0; length < image.size(); length += 7) {
      MemoryByteView cut(std::string_view(image).substr(0, length));
      VersionInfo info;
      if (auto r = FindVersionResource(cut)) {
        EXPECT_GE(length, at + r->size());  // found only when all of it is there
        ReadVersionResource(*r, info);
      }
    }
  }
}

// ---- Version blocks built by hand ----

std::string Le16(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Wide(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) out += Le16(u);
  return out + Le16(0);
}
void Pad4(std::string& s) { s.resize((s.size() + 3) & ~std::size_t{3}, '\0'); }

// A block as the resource compiler lays it out; `length` overrides the computed wLength.
std::string Node(std::u16string_view key, const std::string& value, bool text,
                 const std::vector<std::string>& children, int length = -1) {
  std::string body = Wide(key);
  std::string out = Le16(0) + Le16(text ? value.size() / 2 : value.size()) + Le16(text) + body;
  Pad4(out);
  out += value;
  for (const std::string& child : children) {
    Pad4(out);
    out += child;
  }
  const std::string len = Le16(length >= 0 ? static_cast<std::uint32_t>(length) : out.size());
  out.replace(0, 2, len);
  return out;
}

std::string Fixed(std::uint32_t os, std::uint32_t type, std::uint32_t subtype,
                  std::uint32_t flags = 0) {
  return Le32(0xFEEF04BD) + Le32(0x00010000) + Le32(0x00010002) + Le32(0x00030004) +
         Le32(0x00050006) + Le32(0x00070008) + Le32(0) + Le32(flags) + Le32(os) + Le32(type) +
         Le32(subtype) + Le32(0) + Le32(0);
}

std::string Str(std::u16string_view name, std::u16string_view value) {
  return Node(name, Wide(value), true, {});
}

std::string Resource(const std::string& fixed, std::u16string_view table,
                     const std::vector<std::string>& strings, std::uint32_t translation) {
  return Node(
      u"VS_VERSION_INFO", fixed, false,
      {Node(u"StringFileInfo", "", true, {Node(table, "", true, strings)}),
       Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(translation), false, {})})});
}

TEST(VersionInfo, OnlyWholeImagesAreComplete) {
  for (const char16_t* name : {u"en_app.exe", u"case_app.exe", u"zh_lib.dll"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    const std::string image = FixtureBytes(name);
    ASSERT_GT(image.size(), 1024u);
    const auto complete = [](std::string bytes) {
      MemoryByteView view(bytes);
      return IsCompletePeImage(view);
    };
    EXPECT_TRUE(complete(image));
    EXPECT_TRUE(complete(image + std::string(100, 'x')));  // data after the sections
    for (const std::size_t cut : {std::size_t{0}, std::size_t{2}, std::size_t{64}, std::size_t{300},
                                  image.size() / 2, image.size() - 1}) {
      EXPECT_FALSE(complete(image.substr(0, cut))) << cut;
    }
  }
  MemoryByteView four("abcd");
  char buffer[4];
  EXPECT_TRUE(four.ReadAt(0, buffer, 4) && four.ReadAt(4, buffer, 0));
  EXPECT_FALSE(four.ReadAt(1, buffer, 4) || four.ReadAt(5, buffer, 0));
}

std::uint32_t LeAt(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(s[at + i]);
  return value;
}
void PutLe(std::string& s, std::size_t at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(value >> (8 * i));
}

// One header field damaged, in a PE32+ and a PE32 fixture: is the image still whole, is its
// version resource still found? `o` is the optional header, `n` its count of data directories.
TEST(PEInfo, DamagedHeaders) {
  using Damage = void (*)(std::string & image, std::size_t o, std::size_t n);
  const struct {
    const char* what;
    Damage damage;
    bool complete, found;
  } cases[] = {
      {"none", [](std::string&, std::size_t, std::size_t) {}, true, true},
      {"M of MZ", [](std::string& i, std::size_t, std::size_t) { i[0] = 'X'; }, false, false},
      {"Z of MZ", [](std::string& i, std::size_t, std::size_t) { i[1] = 'X'; }, false, false},
      {"PE signature", [](std::string& i, std::size_t o, std::size_t) { i[o - 23] = 'X'; }, false,
       false},
      {"NT headers past the end",
       [](std::string& i, std::size_t, std::size_t) { PutLe(i, 0x3C, i.size(), 4); }, false, false},
      {"no sections", [](std::string& i, std::size_t o, std::size_t) { PutLe(i, o - 18, 0, 2); },
       false, false},
      {"more sections than bytes",
       [](std::string& i, std::size_t o, std::size_t) { PutLe(i, o - 18, 0xFFFF, 2); }, false,
       false},
      {"unknown optional header", [](std::string& i, std::size_t o, std::size_t) { i[o] = 1; },
       false, false},
      {"two data directories",
       [](std::string& i, std::size_t o, std::size_t n) { PutLe(i, o + n, 2, 4); }, true, false},
      {"three data directories",
       [](std::string& i, std::size_t o, std::size_t n) { PutLe(i, o + n, 3, 4); }, true, true},
      {"no resources",
       [](std::string& i, std::size_t o, std::size_t n) { PutLe(i, o + n + 20, 0, 4); }, true,
       false},
      {"resources in no section",
       [](std::string& i, std::size_t o, std::size_t n) { PutLe(i, o + n + 20, 0x7FFF0000, 4); },
       true, false},
      {"optional header ending with the resource directory",
       [](std::string& i, std::size_t o, std::size_t n) {
         const std::size_t table = LeAt(i, o - 18, 2) * std::size_t{40};
         i.replace(o + n + 28, table, i.substr(o + LeAt(i, o - 4, 2), table));
         PutLe(i, o - 4, static_cast<std::uint32_t>(n + 28), 2);
       },
       true, true},
  };
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll"}) {
    for (const auto& c : cases) {
      std::string image = FixtureBytes(name);
      const std::size_t o = LeAt(image, 0x3C, 4) + 24;
      c.damage(image, o, LeAt(image, o, 2) == 0x20B ? 108 : 92);
      MemoryByteView view(image);
      EXPECT_EQ(IsCompletePeImage(view), c.complete) << Utf16ToUtf8(name) << ": " << c.what;
      EXPECT_EQ(FindVersionResource(view).has_value(), c.found)
          << Utf16ToUtf8(name) << ": " << c.what;
    }
  }
}

// The fixtures show most labels; these are the ends of the two tables read by index.
TEST(VersionInfo, FlagWordsAndDriverKindsStopAtTheirTablesEnds) {
  const struct {
    std::uint32_t subtype, flags;
    std::u16string kind, words;
  } cases[] = {
      {10, 0xFFFFFFC0, u"串行驱动程序", u""},
      {11, 0x7F, u"驱动程序", u"Debug PreRel Patched Private Info Special "},
  };
  for (const auto& c : cases) {
    VersionInfo info;
    ReadVersionResource(Resource(Fixed(4, 3, c.subtype, c.flags), u"04090000", {}, 0x0409), info);
    EXPECT_EQ(info.FileSubtype, c.kind);
    EXPECT_EQ(info.FileFlags, c.words);
  }
}

TEST(VersionInfo, StringTableKeyAndLookup) {
  const std::vector<std::string> strings = {Str(u"productname", u"lower-case name"),
                                            Str(u"CompanyName", u"Maker")};
  // Language 0x0804 with code page 65001 gives 0804FDE9; the table name's letter case and the
  // value names' letter case do not matter.
  VersionInfo info;
  ReadVersionResource(Resource(Fixed(4, 1, 0), u"0804fde9", strings, 0xFDE90804), info);
  EXPECT_EQ(info.ProductName, u"lower-case name");
  EXPECT_EQ(info.CompanyName, u"Maker");
  EXPECT_EQ(info.FileDescription, u"");

  // A table of another language only: the version fields are read, the strings are not.
  info = Sentinel();
  ReadVersionResource(Resource(Fixed(4, 1, 0), u"040904E4", strings, 0x04E40804), info);
  EXPECT_EQ(info.FileVersion, u"1.2.3.4");
  EXPECT_EQ(info.StrucVersion, u"1.0");
  EXPECT_EQ(info.ProductVersion, u"5.6.7.8");
  EXPECT_EQ(info.CompanyName, u"keep");
}

TEST(VersionInfo, MalformedBlocksGiveMissingFields) {
  const std::vector<std::string> strings = {Str(u"CompanyName", u"Maker")};
  struct Case {
    const char* what;
    std::string resource;
    std::u16string version, company;
  };
  const std::string good = Resource(Fixed(4, 1, 0), u"04090000", strings, 0x0409);
  std::string badSignature = good;
  badSignature[0x28] = 0;  // first byte of the fixed information
  std::string shortFixed = Resource(Fixed(4, 1, 0).substr(0, 48), u"04090000", strings, 0x0409);
  // A string whose block ends before its terminator: the value stops at the block's end.
  std::string unterminated =
      Node(u"VS_VERSION_INFO", Fixed(4, 1, 0), false,
           {Node(u"StringFileInfo", "", true,
                 {Node(u"04090000", "", true,
                       {Node(u"CompanyName", Wide(u"Makers"), true, {}, 32 + 2 * 3)})}),
            Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(0x0409), false, {})})});
  // A child of length 0 ends the search instead of looping on the same place.
  std::string zeroChild =
      Node(u"VS_VERSION_INFO", Fixed(4, 1, 0), false,
           {Le16(0) + Le16(0) + Le16(0) + Le16(0),
            Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(0x0409), false, {})})});
  // Children that claim more than their parent holds are cut at the parent's end.
  std::string overlong = Resource(Fixed(4, 1, 0), u"04090000",
                                  {Node(u"CompanyName", Wide(u"Maker"), true, {}, 0xFFF0)}, 0x0409);
  // A string block that ends with its name's terminator holds an empty value.
  std::string nameOnly = Resource(Fixed(4, 1, 0), u"04090000",
                                  {Node(u"CompanyName", "", true, {}, 6 + 2 * 12)}, 0x0409);
  const Case cases[] = {
      {"well formed", good, u"1.2.3.4", u"Maker"},
      {"bad signature", badSignature, u"keep", u"Maker"},
      {"short fixed information", shortFixed, u"keep", u"Maker"},
      {"unterminated string", unterminated, u"1.2.3.4", u"Mak"},
      {"zero-length child", zeroChild, u"1.2.3.4", u"keep"},
      {"overlong child", overlong, u"1.2.3.4", u"Maker"},
      {"name only", nameOnly, u"1.2.3.4", u""},
      {"truncated in the strings", good.substr(0, good.size() - 60), u"1.2.3.4", u"keep"},
      {"header only", good.substr(0, 6), u"keep", u"keep"},
      {"empty", "", u"keep", u"keep"},
  };
  for (const Case& c : cases) {
    VersionInfo info = Sentinel();
    ReadVersionResource(c.resource, info);
    EXPECT_EQ(info.FileVersion, c.version) << c.what;
    EXPECT_EQ(info.CompanyName, c.company) << c.what;
  }
}

// ---- sealupdate-tool version ----

TEST(ToolVersion, PrintsTheSixteenFieldsOrFails) {
  const std::string path = Utf16ToUtf8(FixturePath(u"zh_lib.dll"));
  std::ostringstream out, err;
  ASSERT_EQ(tool::RunTool({"version", path}, out, err), tool::kExitOk) << err.str();
  const std::string size = std::to_string(FixtureBytes(u"zh_lib.dll").size());
  EXPECT_EQ(out.str(),
            "FileName: zh_lib.dll\nFilePath: " + path + "\nFileSize: " + size +
                "\nFileVersion: 65535.32768.0.7\n"
                "FileFlags: Debug PreRel Patched Private Info Special \n"
                "FileOS: Win32位操作系统\nFileType: 动态连接库\nFileSubtype: \n"
                "StrucVersion: 1.0\nProductVersion: 2.5.0.0\nFileDescription: \n"
                "ProductName: 示例套件\nOriginalFilename: zh_lib.dll\nInternalName: 中文库\n"
                "CompanyName: 示例软件有限公司\nLegalCopyright: 版权所有 (C) 2024 示例软件\n");
  EXPECT_EQ(err.str(), "");

  // Control characters in a value keep every field on its line.
  std::string patched = FixtureBytes(u"en_app.exe");
  const std::string ltd("L\0t\0d\0", 6);
  ASSERT_NE(patched.find(ltd), std::string::npos);
  patched.replace(patched.find(ltd), 6, std::string("L\0\n\0\x7F\0", 6));
  const std::u16string patchedPath = FolderOf(GetOwnExePath()) + u"\\pe_info_test_ctrl.exe";
  ASSERT_TRUE(WriteWholeFile(patchedPath, patched));
  std::ostringstream lines, none;
  ASSERT_EQ(tool::RunTool({"version", Utf16ToUtf8(patchedPath)}, lines, none), tool::kExitOk);
  EXPECT_NE(lines.str().find("\nCompanyName: Fixture Works L\\x0A\\x7F.\n"), std::string::npos)
      << lines.str();

  const std::pair<std::vector<std::string>, int> failures[] = {
      {{"version", Utf16ToUtf8(FixturePath(u"no_version.exe"))}, tool::kExitFailed},
      {{"version", Utf16ToUtf8(FixturePath(u"missing.exe"))}, tool::kExitFailed},
      {{"version", "-"}, tool::kExitFailed},  // a file name, not an option
      {{"version"}, tool::kExitUsage},
      {{"version", path, path}, tool::kExitUsage},
      {{"version", "--bogus", path}, tool::kExitUsage},
  };
  for (const auto& [args, code] : failures) {
    std::ostringstream o, e;
    EXPECT_EQ(tool::RunTool(args, o, e), code) << args.back();
    EXPECT_EQ(o.str(), "");
    EXPECT_NE(e.str(), "");
  }
}

}  // namespace
}  // namespace sealupdate
