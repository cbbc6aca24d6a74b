// The PE image reader on the windres fixtures (PE32 and PE32+), damaged copies, built images.
#include "model/pe_image.h"

#include "model/version_info.h"
#include "tool_fixture.h"

namespace sealupdate {
namespace {

using tool::FixtureBytes;

std::uint32_t LeAt(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(s[at + i]);
  return value;
}
std::string Le16(std::uint32_t v) { return {char(v & 0xFF), char(v >> 8 & 0xFF)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }

std::size_t OptionalAt(const std::string& image) { return LeAt(image, 0x3C, 4) + 24; }

// The minimal PE32+ image with these sections (virtual size, address, raw size, offset), `data`.
std::string BuiltImage(const std::vector<PeSection>& sections, const std::string& data) {
  std::string pe = tool::MinimalPe();
  pe.replace(0x46, 2, Le16(static_cast<std::uint32_t>(sections.size())));
  pe.replace(0x58 + 60, 4, Le32(0x200));  // SizeOfHeaders
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const PeSection& s = sections[i];
    pe.replace(0x148 + 40 * i + 8, 16,
               Le32(s.virtualSize) + Le32(s.virtualAddress) + Le32(s.rawSize) + Le32(s.rawOffset));
  }
  return pe + data;
}

// One header field damaged in a PE32+ and a PE32 fixture: still whole, resource still found?
// Offsets from the file's start, the optional header or its directory count (kEnd: its end).
TEST(PeImage, DamagedHeaders) {
  enum From { kFile, kOptional, kDirectories, kEnd };
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
      {"optional header ending with the resource directory", kEnd, 28, 0, 0, true, true},
      {"optional header ending inside the resource directory", kEnd, 24, 0, 0, true, false},
  };
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll"}) {
    for (const auto& [what, from, at, value, bytes, complete, found] : cases) {
      std::string image = FixtureBytes(name);
      const std::size_t o = OptionalAt(image);
      const std::size_t n = o + (LeAt(image, o, 2) == 0x20B ? 108 : 92);
      if (from == kEnd) {  // the optional header cut short at n + at, the section table behind
        const std::size_t table = LeAt(image, o - 18, 2) * std::size_t{40};
        image.replace(n + at, table, image.substr(o + LeAt(image, o - 4, 2), table));
        image.replace(o - 4, 2, Le16(static_cast<std::uint32_t>(n - o + at)));
      } else {
        const std::size_t origin[] = {0, o, n};
        image.replace(origin[from] + at, bytes, Le32(value).substr(0, bytes));
      }
      MemoryByteView view(image);
      EXPECT_EQ(IsCompletePeImage(view), complete) << Utf16ToUtf8(name) << ": " << what;
      EXPECT_EQ(FindVersionResource(view).has_value(), found) << Utf16ToUtf8(name) << ": " << what;
    }
  }
}

// As the loader maps: raw data, zeros up to the virtual size (raw data past it still maps); a
// range must lie inside one section.
TEST(PeImage, ReadsByVirtualAddressInsideOneSection) {
  const std::string data = std::string(0x20, 'a') + std::string(0x10, 'b');
  const std::string bytes =
                        BuiltImage({{0x30, 0x1000, 0x20, 0x200}, {0x8, 0x2000, 0x10, 0x220}}, data),
                    far = BuiltImage({{0x10, 0x1000, 0x10, 0x10000}}, "");
  MemoryByteView view(bytes), farView(far);
  const std::optional<PeImage> image = PeImage::Read(view);
  ASSERT_TRUE(image && image->Sections() && image->Sections()->size() == 2);
  EXPECT_TRUE(IsCompletePeImage(view));
  EXPECT_EQ(image->ReadRva(0x1010, 0x20), std::string(0x10, 'a') + std::string(0x10, '\0'));
  EXPECT_EQ(image->ReadRva(0x2000, 0x10), std::string(0x10, 'b'));
  EXPECT_EQ(image->AvailableAt(0x1010), 0x20u);
  EXPECT_EQ(image->AvailableAt(0x2010), 0u);
  const std::pair<std::uint64_t, std::size_t> outside[] = {
      {0x1020, 0x11}, {0x1030, 1}, {0x0FFF, 2}, {0x2008, 9}, {0x1000, SIZE_MAX}};
  for (const auto& [rva, length] : outside)
    EXPECT_FALSE(image->ReadRva(rva, length)) << rva << "+" << length;
  // Raw data that the file does not hold: the image is not whole and reads fail.
  const std::optional<PeImage> cut = PeImage::Read(farView);
  ASSERT_TRUE(cut);
  EXPECT_FALSE(IsCompletePeImage(farView));
  EXPECT_FALSE(cut->ReadRva(0x1000, 1));
  // Headers up to the file's end are whole when no section has raw data; one byte more is not.
  std::string headersOnly = BuiltImage({{0x10, 0x1000, 0, 0}}, "");
  MemoryByteView exact(headersOnly);
  EXPECT_TRUE(IsCompletePeImage(exact));
  const std::string over = headersOnly.replace(0x58 + 60, 4, Le32(0x201));
  MemoryByteView overView(over);
  EXPECT_FALSE(IsCompletePeImage(overView));
}

// The linker set every fixture's CheckSum: sum and field agree in both header kinds. The field
// counts as zero; an odd last byte counts alone; carries fold back.
TEST(PeImage, ChecksumAgreesWithTheLinker) {
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll", u"case_app.exe", u"display_driver.dll",
                               u"other_driver.dll", u"multi_lang.dll"}) {
    const std::string image = FixtureBytes(name);
    MemoryByteView view(image);
    const std::optional<PeImage> pe = PeImage::Read(view);
    ASSERT_TRUE(pe) << Utf16ToUtf8(name);
    EXPECT_EQ(pe->IsPe32Plus(), LeAt(image, OptionalAt(image), 2) == 0x20B);
    ASSERT_EQ(pe->ChecksumOffset(), OptionalAt(image) + 64) << Utf16ToUtf8(name);
    EXPECT_EQ(PeChecksum(image, OptionalAt(image) + 64), LeAt(image, OptionalAt(image) + 64, 4))
        << Utf16ToUtf8(name);
  }
  EXPECT_EQ(PeChecksum(std::string_view("\x01\x02\x03\x7F", 3), 8), 0x0201u + 0x03 + 3);
  EXPECT_EQ(PeChecksum(std::string_view("\x01\x02\x09\x09\x09\x09\x7F", 6), 2), 0x0201u + 6);
  EXPECT_EQ(PeChecksum(std::string("\xFF\xFF\x02\x00", 4), 8), 0x0002u + 4);

  // The field needs the optional header up to it (declared and in the file), not the rest.
  std::string image = FixtureBytes(u"en_app.exe");
  const std::size_t o = OptionalAt(image), n = image.size();
  const std::tuple<std::uint32_t, std::size_t, bool> cases[] = {
      {68, n, true}, {67, n, false}, {0xF0, o + 68, true}, {0xF0, o + 67, false}};
  for (const auto& [declared, length, given] : cases) {
    image.replace(o - 4, 2, Le16(declared));
    MemoryByteView view(std::string_view(image).substr(0, length));
    const std::optional<PeImage> pe = PeImage::Read(view);
    ASSERT_TRUE(pe);
    EXPECT_EQ(pe->ChecksumOffset().has_value(), given) << declared << " " << length;
  }
}

// A signer pads to a multiple of 8 and appends the table (directory 4 gives its file offset); only
// a table that ends the file, behind its own entry, counts.
TEST(PeImage, CertificateTableOnlyWhenItEndsTheFile) {
  for (const char16_t* name : {u"en_app.exe", u"zh_lib.dll"}) {
    std::string image = FixtureBytes(name) + "x";
    const std::size_t o = OptionalAt(image);
    const std::size_t entry = o + (LeAt(image, o, 2) == 0x20B ? 112 : 96) + 4 * 8;  // directory 4
    MemoryByteView unsigned_(image);
    EXPECT_FALSE(FindTrailingCertificateTable(unsigned_));
    image.append((8 - image.size() % 8) % 8, '\0');
    const auto offset = static_cast<std::uint32_t>(image.size());
    image.replace(entry, 8, Le32(offset) + Le32(48));
    image += std::string(48, '\x5A');

    MemoryByteView view(image);
    const std::optional<CertificateTable> table = FindTrailingCertificateTable(view);
    ASSERT_TRUE(table) << Utf16ToUtf8(name);
    EXPECT_EQ(std::make_tuple(table->offset, table->size, table->directoryEntry),
              std::make_tuple(std::uint64_t{offset}, std::uint64_t{48}, std::uint64_t{entry}));

    const auto size = static_cast<std::uint32_t>(image.size());
    // Changes to the signed image; found or not.
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"appended after signing", image + "z", false},
        {"four data directories", std::string(image).replace(entry - 36, 4, Le32(4)), false},
        {"empty table at the end", std::string(image).replace(entry, 8, Le32(size) + Le32(0)),
         false},
        {"table over its own entry",
         std::string(image).replace(entry, 8, Le32(entry + 4) + Le32(size - entry - 4)), false},
        {"table right behind its entry",
         std::string(image).replace(entry, 8, Le32(entry + 8) + Le32(size - entry - 8)), true},
    };
    for (const auto& [what, bytes, found] : cases) {
      MemoryByteView changed(bytes);
      EXPECT_EQ(FindTrailingCertificateTable(changed).has_value(), found)
          << Utf16ToUtf8(name) << ": " << what;
    }
  }
}

}  // namespace
}  // namespace sealupdate
