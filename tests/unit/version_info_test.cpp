#include <gtest/gtest.h>

#include <cstdint>
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
  info.FileVersion = info.CompanyName = u"keep";
  return info;
}

// Every field of every fixture is compared with pefile natively and with the system's version
// services under Wine; here: the path as given, a size beyond 31 bits and what is no image.
TEST(VersionInfo, ReadsByPathSaturatesTheSizeAndRefusesWhatIsNoImage) {
  const std::u16string path = FixturePath(u"zh_lib.dll");
  const auto info = ReadVersionInfo(u"  " + path + u" ");  // spaces around are ignored
  ASSERT_TRUE(info);
  EXPECT_EQ(info->FilePath + u"|" + info->FileVersion, path + u"|65535.32768.0.7");
  const std::u16string text = FolderOf(GetOwnExePath()) + u"\\pe_info_test_plain.txt";
  ASSERT_TRUE(WriteWholeFile(text, "MZ is how this plain text file starts\r\n"));
  for (const std::u16string& p : {text, FixturePath(u"missing.exe"), FolderOf(GetOwnExePath())}) {
    EXPECT_FALSE(ReadVersionInfo(p)) << Utf16ToUtf8(p);
  }
#ifndef _WIN32
  const std::u16string big = FolderOf(GetOwnExePath()) + u"\\pe_info_test_big.exe";
  ASSERT_TRUE(WriteWholeFile(big, FixtureBytes(u"en_app.exe")));
  const std::string native = Utf16ToUtf8(ReplaceAll(big, u"\\", u"/"));
  std::filesystem::resize_file(native, 0x80000010ull);  // sparse
  EXPECT_EQ(ReadVersionInfo(big).value_or(VersionInfo()).FileSize, INT32_MAX);
  std::filesystem::remove(native);
#endif
}

// Cut images: whole only with every section's data; the resource is found only when all of it
// is there, and reading what is found never reads outside the bytes (ASan builds check that).
TEST(VersionInfo, CutImagesAreIncompleteAndNeverReadOutsideTheirBytes) {
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll"}) {
    SCOPED_TRACE(Utf16ToUtf8(name));
    const std::string image = FixtureBytes(name);
    MemoryByteView whole(image);
    const auto resource = FindVersionResource(whole);
    ASSERT_TRUE(resource.has_value());
    const std::size_t end = image.find(resource->substr(0, 64)) + resource->size();
    std::string longer = image + std::string(100, 'x');  // data after the sections
    MemoryByteView appended(longer);
    EXPECT_TRUE(IsCompletePeImage(whole) && IsCompletePeImage(appended));
    for (std::size_t length = 0; length < image.size(); length += 7) {
      MemoryByteView cut(std::string_view(image).substr(0, length));
      EXPECT_FALSE(IsCompletePeImage(cut)) << length;
      VersionInfo info;
      if (auto r = FindVersionResource(cut)) {
        EXPECT_GE(length, end);
        ReadVersionResource(*r, info);
      }
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
// version resource still found? Offsets count from the file's start, the optional header or
// its count of data directories.
TEST(VersionInfo, DamagedHeaders) {
  enum From { kFile, kOptional, kDirectories };
  const struct {
    const char* what;
    From from;
    int at;
    std::uint32_t value;
    int bytes;
    bool complete, found;
  } cases[] = {
      {"none", kFile, 0, 'M', 1, true, true},
      {"M of MZ", kFile, 0, 'X', 1, false, false},
      {"Z of MZ", kFile, 1, 'X', 1, false, false},
      {"PE signature", kOptional, -23, 'X', 1, false, false},
      {"no sections", kOptional, -18, 0, 2, false, false},
      {"more sections than bytes", kOptional, -18, 0xFFFF, 2, false, false},
      {"unknown optional header", kOptional, 0, 1, 1, false, false},
      {"two data directories", kDirectories, 0, 2, 4, true, false},
      {"three data directories", kDirectories, 0, 3, 4, true, true},
      {"no resources", kDirectories, 20, 0, 4, true, false},
      {"resources in no section", kDirectories, 20, 0x7FFF0000, 4, true, false},
      {"NT headers past the end", kFile, 0x3C, 0x7FFFFFF0, 4, false, false},
      {"optional header ending with the resource directory", kOptional, 0, 0, 0, true, true},
  };
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll"}) {
    for (const auto& c : cases) {
      std::string image = FixtureBytes(name);
      const std::size_t o = LeAt(image, 0x3C, 4) + 24;
      const std::size_t n = o + (LeAt(image, o, 2) == 0x20B ? 108 : 92);
      if (c.bytes == 0) {  // the section table moved up to right after the resource directory
        const std::size_t table = LeAt(image, o - 18, 2) * std::size_t{40};
        image.replace(n + 28, table, image.substr(o + LeAt(image, o - 4, 2), table));
        PutLe(image, o - 4, static_cast<std::uint32_t>(n - o + 28), 2);
      } else {
        PutLe(image, (c.from == kFile ? 0 : c.from == kOptional ? o : n) + c.at, c.value, c.bytes);
      }
      MemoryByteView view(image);
      EXPECT_EQ(IsCompletePeImage(view), c.complete) << Utf16ToUtf8(name) << ": " << c.what;
      EXPECT_EQ(FindVersionResource(view).has_value(), c.found)
          << Utf16ToUtf8(name) << ": " << c.what;
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

// A block as the resource compiler lays it out; `length` overrides the computed wLength.
std::string Node(std::u16string_view key, const std::string& value, bool text,
                 const std::vector<std::string>& children, int length = -1) {
  std::string out = Le16(0) + Le16(text ? value.size() / 2 : value.size()) + Le16(text) + Wide(key);
  std::vector<std::string> parts = children;
  parts.insert(parts.begin(), value);
  for (const std::string& part : parts) {
    out.resize((out.size() + 3) & ~std::size_t{3}, '\0');
    out += part;
  }
  out.replace(0, 2, Le16(length >= 0 ? static_cast<std::uint32_t>(length) : out.size()));
  return out;
}

std::string Fixed(std::uint32_t subtype = 0, std::uint32_t flags = 0) {
  std::string out = Le32(0xFEEF04BD);
  for (std::uint32_t v : {0x00010000u, 0x00010002u, 0x00030004u, 0x00050006u, 0x00070008u, 0u,
                          flags, 4u, 3u, subtype, 0u, 0u}) {
    out += Le32(v);
  }
  return out;
}

std::string Resource(const std::vector<std::string>& strings, std::string fixed = Fixed()) {
  return Node(u"VS_VERSION_INFO", fixed, false,
              {Node(u"StringFileInfo", "", true, {Node(u"04090000", "", true, strings)}),
               Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(0x0409), false, {})})});
}

// The fixtures show most labels; these are the ends of the two tables read by index.
TEST(VersionInfo, DriverKindsAndFlagsAtTheEndsOfTheirTables) {
  VersionInfo info;
  ReadVersionResource(Resource({}, Fixed(10, 0xFFFFFFC0)), info);
  EXPECT_EQ(info.FileSubtype + u"|" + info.FileFlags, u"串行驱动程序|");
  ReadVersionResource(Resource({}, Fixed(11, 0x7F)), info);
  EXPECT_EQ(info.FileSubtype + u"|" + info.FileFlags,
            u"驱动程序|Debug PreRel Patched Private Info Special ");
}

TEST(VersionInfo, MalformedBlocksGiveMissingFields) {
  // Value names match without regard to letter case.
  const std::string good = Resource({Node(u"companyNAME", Wide(u"Maker"), true, {})});
  std::string badSignature = good;
  badSignature[0x28] = 0;  // first byte of the fixed information
  const std::string translation =
      Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(0x0409), false, {})});
  const struct {
    const char* what;
    std::string resource;
    std::u16string version, company;
  } cases[] = {
      {"well formed", good, u"1.2.3.4", u"Maker"},
      {"bad signature", badSignature, u"keep", u"Maker"},
      {"short fixed information",
       Resource({Node(u"CompanyName", Wide(u"Maker"), true, {})}, Fixed().substr(0, 48)), u"keep",
       u"Maker"},
      // A string whose block ends before its terminator: the value stops at the block's end.
      {"unterminated string",
       Resource({Node(u"CompanyName", Wide(u"Makers"), true, {}, 32 + 2 * 3)}), u"1.2.3.4", u"Mak"},
      // A child of length 0 ends the search instead of looping on the same place.
      {"zero-length child",
       Node(u"VS_VERSION_INFO", Fixed(), false, {std::string(8, '\0'), translation}), u"1.2.3.4",
       u"keep"},
      // Children that claim more than their parent holds are cut at the parent's end.
      {"overlong child", Resource({Node(u"CompanyName", Wide(u"Maker"), true, {}, 0xFFF0)}),
       u"1.2.3.4", u"Maker"},
      // A string block that ends with its name's terminator holds an empty value.
      {"name only", Resource({Node(u"CompanyName", "", true, {}, 6 + 2 * 12)}), u"1.2.3.4", u""},
      // A table that no translation names.
      {"no translation",
       Node(u"VS_VERSION_INFO", Fixed(), false,
            {Node(u"StringFileInfo", "", true,
                  {Node(u"04BDFEEF", "", true, {Node(u"CompanyName", Wide(u"M"), true, {})})})}),
       u"1.2.3.4", u"keep"},
      {"truncated in the strings", good.substr(0, good.size() - 60), u"1.2.3.4", u"keep"},
      {"header only", good.substr(0, 6), u"keep", u"keep"},
      {"empty", "", u"keep", u"keep"},
  };
  for (const auto& c : cases) {
    VersionInfo info = Sentinel();
    ReadVersionResource(c.resource, info);
    EXPECT_EQ(info.FileVersion + u"|" + info.CompanyName, c.version + u"|" + c.company) << c.what;
  }
}

// ---- sealupdate-tool version ----

TEST(ToolVersion, PrintsControlCharactersEscapedOrFails) {
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

  const std::string path = Utf16ToUtf8(FixturePath(u"zh_lib.dll"));
  const std::pair<std::vector<std::string>, int> failures[] = {
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
  }
}

}  // namespace
}  // namespace sealupdate
