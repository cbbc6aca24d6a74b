// UTF-16 text, numbers, path containment, base64, hex, bounded reads (offset + length may wrap).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/paths.h"
#include "base/text.h"

namespace sealupdate {
namespace {

using Pieces = std::vector<std::u16string>;

// Signs, fractions, exponents (E or D); blanks, tabs, LFs skipped, CR not; nothing readable is 0;
// after "&H" up to eight hex digits are a signed 32-bit pattern, more their plain value.
TEST(Text, LeadingNumberAndHalfEvenRounding) {
  const std::pair<std::u16string, double> numbers[] = {
      {u"42", 42},    {u"  -3", -3},        {u"+7", 7},          {u"1.5", 1.5},
      {u".5", .5},    {u"1e3", 1e3},        {u"2D2", 200},       {u"1E", 1},
      {u"1e+", 1},    {u"1 2", 12},         {u"\t3\n1", 31},     {u"- 4", -4},
      {u"\r1", 0},    {u"7a", 7},           {u"1.2.3", 1.2},     {u"1e-999", 0},
      {u"", 0},       {u"abc", 0},          {u"-", 0},           {u".", 0},
      {u"\uFF11", 0}, {u"&HFFF", 4095},     {u"&hff", 255},      {u"&H  F", 15},
      {u"&H1G", 1},   {u"&H", 0},           {u"&HFFFFFFFF", -1}, {u"&H9aA", 2474},
      {u"7h", 7},     {u"1e999", HUGE_VAL},
  };
  for (const auto& [text, value] : numbers)
    EXPECT_EQ(ParseLeadingNumber(text), value) << Utf16ToUtf8(text);
  EXPECT_EQ(ParseLeadingNumber(u"&H100000000"), 0x1p32);
  EXPECT_EQ(ParseLeadingNumber(u"-1e999"), -HUGE_VAL);
  const std::pair<double, std::int32_t> rounded[] = {
      {0.5, 0}, {1.5, 2}, {2.5, 2}, {-2.5, -2}, {2.6, 3},
  };
  for (const auto& [value, expected] : rounded) EXPECT_EQ(ToInt32RoundHalfEven(value), expected);
  EXPECT_EQ(ToInt32RoundHalfEven(-2147483648.0), INT32_MIN);
  EXPECT_EQ(ToInt32RoundHalfEven(2147483647.4), INT32_MAX);
  for (double overflow : {2147483647.5, -2147483649.0, 1e300, 0.0 / 0.0})
    EXPECT_THROW(ToInt32RoundHalfEven(overflow), std::overflow_error) << overflow;
}

TEST(Text, SplitsReplacesAndFoldsCase) {
  EXPECT_EQ(TrimSpaces(u"   ") + TrimSpaces(u"\ta\u3000") + TrimLeadingSpaces(u"  a "),
            u"\ta\u3000a ");
  EXPECT_EQ(Split(u"|a||b|", u"|"), (Pieces{u"", u"a", u"", u"b", u""}));
  EXPECT_EQ(Split(u"a|b", u""), Pieces{u"a|b"});
  // Left to right, without overlap; the replacement is not searched again.
  EXPECT_EQ(ReplaceAll(u"\r\n\r\n\r\n", u"\r\n\r\n", u"\r\n") + ReplaceAll(u"x", u"", u"y") +
                ReplaceAll(u"ab", u"b", u"bb"),
            u"\r\n\r\nxabb");
  // Each range of capitals at its ends and just outside them, lower-cased as Unicode does where
  // the lower case is one unit; the dotted I (two units) stays.
  EXPECT_EQ(ToLowerUnits(u"@AZ[¿À×ÞßĀįİĶĸĹŇňŉŊŶŸŹŽžΐΑΡ\u03A2ΣΫάЀЏАЯа＠ＡＺ［中"),
            u"@az[¿à×þßāįİķĸĺňňŉŋŷÿźžžΐαρ\u03A2σϋάѐџаяа＠ａｚ［中");
}

// Each sequence length at its ends and the units around the surrogates, both ways; whatever is
// malformed becomes U+FFFD, one per byte or unit.
TEST(Text, ConvertsBetweenUtf8AndUtf16) {
  const std::string utf8 =
      "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xEF\xBF\xBF\xF4\x8F"
      "\xBF\xBF";
  const std::u16string utf16 = u"\x7F\u0080\u07FF\u0800\uD7FF\uE000\U00010000\uFFFF\U0010FFFF";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
  for (const std::string bad : {"\x80\x90\x80\x80", "\xFF", "\xC1\x81", "\xE4\xB8", "\xE0\x9F\xBF",
                                "\xED\xA0\x80", "\xED\xBF\xBF", "\xF0\x8F\xBF\xBF",
                                "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x90\x80\x80"})
    EXPECT_EQ(Utf8ToUtf16(bad + "a"), std::u16string(bad.size(), u'\uFFFD') + u"a") << bad;
  // Lone surrogates around a pair at the ends of the ranges, a high one also at the end.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a', 0xDBFF, 0xDC00, 0xDFFF, 0xD800}),
            "\xEF\xBF\xBD"
            "a\xF4\x8F\xB0\x80\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Case, separators, doubled ones, "." and "..", namespace prefixes either side; the folder itself,
// a longer sibling, climbing above a root, UNC roots, (drive-)relative, NT device and empty paths.
TEST(Paths, IsInsideFolder) {
  for (const char16_t* path :
       {u"C:\\App\\main.exe", u"c:\\APP\\MAIN.EXE", u"C:/App/main.exe", u"C:\\App\\.\\main.exe",
        u"C:\\\\App\\\\sub\\\\main.exe", u"C:\\Other\\..\\App\\main.exe", u"\\??\\C:\\App\\a.exe",
        u"\\\\?\\C:\\App\\main.exe", u"\\\\.\\C:\\App\\main.exe"})
    EXPECT_TRUE(IsInsideFolder(path, u"C:\\App\\")) << Utf16ToUtf8(path);
  for (const char16_t* path :
       {u"C:\\App2\\main.exe", u"C:\\Ap\\main.exe", u"C:\\main.exe", u"D:\\App\\main.exe",
        u"C:\\App\\", u"C:\\App", u"C:\\App\\sub\\..", u"C:\\App\\..\\App2\\main.exe",
        u"C:/App/sub/../../Other/main.exe", u"C:\\..\\App\\main.exe", u"\\\\C:\\App\\main.exe",
        u"\\Device\\HarddiskVolume2\\App\\main.exe", u""})
    EXPECT_FALSE(IsInsideFolder(path, u"C:\\App\\")) << Utf16ToUtf8(path);
  // Other folders, as "folder|path".
  const auto inside = [](std::u16string_view c) {
    return IsInsideFolder(Split(c, u"|")[1], Split(c, u"|")[0]);
  };
  for (const char16_t* c :
       {u"C:\\App|C:\\App\\bin\\a.exe", u"C:/App/|C:\\App\\a.exe",
        u"\\\\?\\C:\\App\\|C:\\App\\a.exe", u"C:\\|C:\\a.exe", u"a:\\App|A:\\App\\a.exe",
        u"Z:\\App|z:\\App\\a.exe", u"c:\\программа\\|C:\\ПРОГРАММА\\a.exe",
        u"/opt/app/\\|/opt/app/a.exe", u"\\\\srv\\share\\App\\|\\\\?\\UNC\\srv\\share\\App\\a.exe",
        u"\\\\srv\\share\\App\\|\\\\SRV\\Share\\App\\a.exe"})
    EXPECT_TRUE(inside(c)) << Utf16ToUtf8(c);
  for (const char16_t* c :
       {u"C:\\App|C:\\AppX.exe", u"C:\\|C:App\\a.exe",
        u"\\\\srv\\share\\App\\|\\\\srv2\\share\\App\\a.exe",
        u"\\\\srv\\share\\App\\|\\srv\\share\\App\\a.exe",
        u"\\\\srv\\share2\\App\\|\\\\srv\\share\\App\\a.exe",
        u"\\\\srv\\other\\App\\|\\\\srv\\share\\..\\other\\App\\a.exe",
        u"\\\\srv\\.\\App\\|\\\\srv\\.\\App\\a.exe", u"\\\\srv\\|\\\\srv\\a.exe",
        u"C:\\..\\App\\|C:\\App\\a.exe", u"App\\|App\\a.exe", u"C:App\\|C:App\\a.exe",
        u"1:\\App\\|1:\\App\\a.exe", u"|C:\\App\\a.exe"})
    EXPECT_FALSE(inside(c)) << Utf16ToUtf8(c);
}

// Canonical text only, both ways; hex is lower case out, either case in.
TEST(Encoding, Base64AndHex) {
  const std::pair<std::string, std::string> canonical[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"\xFF\xFE\xFD", "//79"}};
  for (const auto& [bytes, text] : canonical) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(Base64Encode(data, bytes.size()), text);
    EXPECT_EQ(Base64Decode(text), std::vector<std::uint8_t>(data, data + bytes.size()));
  }
  for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "Zg==Zg==", "Zm 9v", "Zm9v\n",
                          "Zm-v", "=Zg=", "Zm9v===="})
    EXPECT_FALSE(Base64Decode(bad)) << bad;
  const std::vector<std::uint8_t> bytes = {0x00, 0x09, 0xA0, 0xFF, 0x5C};
  EXPECT_EQ(HexEncode(bytes.data(), bytes.size()), "0009a0ff5c");
  EXPECT_EQ(HexDecode("0009A0fF5c"), bytes);
  EXPECT_EQ(HexDecode(""), std::vector<std::uint8_t>{});
  for (const char* bad : {"0", "abc", "0g", "g0", " 00", "00 ", "0x00", "\xff"})
    EXPECT_FALSE(HexDecode(bad)) << bad;
}

// A view that claims more bytes than it can deliver, as a file cut short after opening.
class FailingView final : public ByteView {
 public:
  std::uint64_t Size() const override { return 100; }
  bool ReadAt(std::uint64_t, void*, std::size_t) override { return false; }
};

TEST(ByteView, ReadsOnlyWhatLiesInside) {
  constexpr std::uint64_t kFar = std::numeric_limits<std::uint64_t>::max();
  const std::string bytes = "\x01\x82\x03\x84\x05\x86\x07\x88\x09\x0A";
  MemoryByteView view(bytes);
  FailingView failing;
  char out[10] = {};
  EXPECT_TRUE(view.ReadAt(0, out, 10) && std::string(out, 10) == bytes);
  EXPECT_TRUE(view.ReadAt(10, out, 0));  // nothing, at the very end
  const std::pair<std::uint64_t, std::size_t> outside[] = {
      {8, 3}, {11, 0}, {kFar, 1}, {kFar - 4, 8}, {1, std::numeric_limits<std::size_t>::max()}};
  for (const auto& [offset, length] : outside) {
    EXPECT_FALSE(view.ReadAt(offset, out, length)) << offset << "+" << length;
    EXPECT_FALSE(ReadBytes(view, offset, length)) << offset << "+" << length;
  }
  EXPECT_EQ(ReadBytes(view, 7, 3), "\x88\x09\x0A");
  EXPECT_EQ(ReadBytes(view, 10, 0), "");
  EXPECT_FALSE(ReadBytes(failing, 0, 10));

  EXPECT_EQ(ReadLittle<std::uint16_t>(bytes, 0), 0x8201u);
  EXPECT_EQ(ReadLittle<std::uint64_t>(bytes, 1), 0x0988078605840382u);
  EXPECT_EQ(ReadLittle<std::uint16_t>(bytes, 8), 0x0A09u);  // the last two bytes
  for (const std::uint64_t offset : {std::uint64_t{9}, std::uint64_t{10}, kFar - 1, kFar})
    EXPECT_FALSE(ReadLittle<std::uint16_t>(bytes, offset)) << offset;
  EXPECT_FALSE(ReadLittle<std::uint64_t>(bytes, 3));
  EXPECT_EQ(ReadLittle<std::uint32_t>(view, 6), 0x0A098807u);
  EXPECT_FALSE(ReadLittle<std::uint32_t>(view, 7));
  EXPECT_FALSE(ReadLittle<std::uint32_t>(failing, 0));
}

}  // namespace
}  // namespace sealupdate
