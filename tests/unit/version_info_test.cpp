#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "base/text.h"
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

std::uint32_t LeAt(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(s[at + i]);
  return value;
}
std::string Le16(std::uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Wide(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) out += Le16(u);
  return out + Le16(0);
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
  for (const std::u16string& p : {FixturePath(u"missing.exe"), FolderOf(GetOwnExePath())})
    EXPECT_FALSE(ReadVersionInfo(p)) << Utf16ToUtf8(p);
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
  const std::string image = FixtureBytes(u"zh_lib.dll"), longer = image + std::string(100, 'x');
  MemoryByteView whole(image), appended(longer);  // data after the sections
  const auto resource = FindVersionResource(whole);
  ASSERT_TRUE(resource.has_value());
  const std::size_t end = image.find(resource->substr(0, 64)) + resource->size();
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
  MemoryByteView four("abcd");
  char buffer[4];
  EXPECT_TRUE(four.ReadAt(0, buffer, 4) && four.ReadAt(4, buffer, 0));
  EXPECT_FALSE(four.ReadAt(1, buffer, 4) || four.ReadAt(5, buffer, 0));
}

// One header field damaged, in a PE32+ and a PE32 fixture: is the image still whole, is its
// version resource still found? Offsets count from the file's start, the optional header or
// its count of data directories.
TEST(VersionInfo, DamagedHeaders) {
  enum From { kFile, kOptional, kDirectories };
  // What, from where, at, value, bytes; whole, found.
  const std::tuple<const char*, From, int, std::uint32_t, int, bool, bool> cases[] = {
      {"none", kFile, 0, 'M', 1, true, true},
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
    for (const auto& [what, from, at, value, bytes, complete, found] : cases) {
      std::string image = FixtureBytes(name);
      const std::size_t o = LeAt(image, 0x3C, 4) + 24;
      const std::size_t n = o + (LeAt(image, o, 2) == 0x20B ? 108 : 92);
      if (bytes == 0) {  // the section table moved up to right after the resource directory
        const std::size_t table = LeAt(image, o - 18, 2) * std::size_t{40};
        image.replace(n + 28, table, image.substr(o + LeAt(image, o - 4, 2), table));
        image.replace(o - 4, 2, Le16(static_cast<std::uint32_t>(n - o + 28)));
      } else {
        image.replace((from == kFile       ? 0
                       : from == kOptional ? o
                                           : n) +
                          at,
                      bytes, Le32(value).substr(0, bytes));
      }
      MemoryByteView view(image);
      EXPECT_EQ(IsCompletePeImage(view), complete) << Utf16ToUtf8(name) << ": " << what;
      EXPECT_EQ(FindVersionResource(view).has_value(), found) << Utf16ToUtf8(name) << ": " << what;
    }
  }
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

std::string Fixed() {
  std::string out = Le32(0xFEEF04BD);
  for (std::uint32_t v : {0x00010000u, 0x00010002u, 0x00030004u, 0x00050006u, 0x00070008u, 0u, 0u,
                          4u, 3u, 0u, 0u, 0u}) {
    out += Le32(v);
  }
  return out;
}

std::string Resource(const std::vector<std::string>& strings, std::string fixed = Fixed()) {
  return Node(u"VS_VERSION_INFO", fixed, false,
              {Node(u"StringFileInfo", "", true, {Node(u"04090000", "", true, strings)}),
               Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(0x0409), false, {})})});
}

TEST(VersionInfo, MalformedBlocksGiveMissingFields) {
  const auto company = [](std::u16string_view value, int length = -1) {
    return Node(u"CompanyName", value.empty() ? "" : Wide(value), true, {}, length);
  };
  // Value names match without regard to letter case.
  const std::string good = Resource({Node(u"companyNAME", Wide(u"Maker"), true, {})});
  std::string badSignature = good;
  badSignature[0x28] = 0;  // first byte of the fixed information
  const std::string translation =
      Node(u"VarFileInfo", "", true, {Node(u"Translation", Le32(0x0409), false, {})});
  const std::tuple<const char*, std::string, std::u16string> cases[] = {
      {"well formed", good, u"1.2.3.4|Maker"},
      {"bad signature", badSignature, u"keep|Maker"},
      {"short fixed information", Resource({company(u"Maker")}, Fixed().substr(0, 48)),
       u"keep|Maker"},
      // A string whose block ends before its terminator: the value stops at the block's end.
      {"unterminated string", Resource({company(u"Makers", 32 + 2 * 3)}), u"1.2.3.4|Mak"},
      // A child of length 0 ends the search instead of looping on the same place.
      {"zero-length child",
       Node(u"VS_VERSION_INFO", Fixed(), false, {std::string(8, '\0'), translation}),
       u"1.2.3.4|keep"},
      // Children that claim more than their parent holds are cut at the parent's end.
      {"overlong child", Resource({company(u"Maker", 0xFFF0)}), u"1.2.3.4|Maker"},
      // A string block that ends with its name's terminator holds an empty value.
      {"name only", Resource({company(u"", 6 + 2 * 12)}), u"1.2.3.4|"},
      {"no translation names the table",
       Node(u"VS_VERSION_INFO", Fixed(), false,
            {Node(u"StringFileInfo", "", true, {Node(u"04BDFEEF", "", true, {company(u"M")})})}),
       u"1.2.3.4|keep"},
      {"truncated in the strings", good.substr(0, good.size() - 60), u"1.2.3.4|keep"},
      {"header only", good.substr(0, 6), u"keep|keep"},
  };
  for (const auto& [what, resource, expected] : cases) {
    VersionInfo info = Sentinel();
    ReadVersionResource(resource, info);
    EXPECT_EQ(info.FileVersion + u"|" + info.CompanyName, expected) << what;
  }
}

}  // namespace
}  // namespace sealupdate
