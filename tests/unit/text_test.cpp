#include "base/text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace sealupdate {
namespace {

using NumberCases = std::vector<std::pair<std::u16string, double>>;

// Signs, fractions, exponents (E or D, not without digits); blanks, tabs and line feeds skipped
// anywhere, CR not; the first unit that cannot continue ends the number, nothing readable is 0,
// full-width digits are no digits; after "&H" up to eight hexadecimal digits are a signed 32-bit
// pattern, more are their plain value.
TEST(LeadingNumber, ReadsTheLongestNumberAtTheStart) {
  const NumberCases decimals = {
      {u"42", 42},   {u"  -3", -3}, {u"+7", 7},      {u"1.5", 1.5},  {u".5", .5},     {u"1e3", 1e3},
      {u"2D2", 200}, {u"1E", 1},    {u"1e+", 1},     {u"1 2", 12},   {u"\t3\n1", 31}, {u"- 4", -4},
      {u"\r1", 0},   {u"7a", 7},    {u"1.2.3", 1.2}, {u"1e-999", 0}, {u"", 0},        {u"abc", 0},
  };
  const NumberCases others = {
      {u"-", 0},           {u".", 0},         {u"\uFF11", 0}, {u"&HFFF", 4095},
      {u"&hff", 255},      {u"&H  F", 15},    {u"&H1G", 1},   {u"&H", 0},
      {u"&HFFFFFFFF", -1}, {u"&H9aA", 0x9AA}, {u"7h", 7},
  };
  for (const NumberCases& cases : {decimals, others}) {
    for (const auto& [text, value] : cases) {
      EXPECT_EQ(ParseLeadingNumber(text), value) << Utf16ToUtf8(text);
    }
  }
  EXPECT_EQ(ParseLeadingNumber(u"&H7FFFFFFF"), 0x7FFFFFFF);
  EXPECT_EQ(ParseLeadingNumber(u"&H100000000"), 0x1p32);
  EXPECT_GT(ParseLeadingNumber(u"1e999"), 1e300);
  EXPECT_LT(ParseLeadingNumber(u"-1e999"), -1e300);
}

TEST(RoundToInt32, RoundsHalvesToEven) {
  EXPECT_EQ(ToInt32RoundHalfEven(0.5), 0);
  EXPECT_EQ(ToInt32RoundHalfEven(1.5), 2);
  EXPECT_EQ(ToInt32RoundHalfEven(2.5), 2);
  EXPECT_EQ(ToInt32RoundHalfEven(-2.5), -2);
  EXPECT_EQ(ToInt32RoundHalfEven(2.6), 3);
  EXPECT_EQ(ToInt32RoundHalfEven(-2147483648.0), INT32_MIN);
  EXPECT_EQ(ToInt32RoundHalfEven(2147483647.4), INT32_MAX);
}

TEST(RoundToInt32, ReportsOverflow) {
  EXPECT_THROW(ToInt32RoundHalfEven(2147483647.5), std::overflow_error);
  EXPECT_THROW(ToInt32RoundHalfEven(-2147483649.0), std::overflow_error);
  EXPECT_THROW(ToInt32RoundHalfEven(1e300), std::overflow_error);
  EXPECT_THROW(ToInt32RoundHalfEven(0.0 / 0.0), std::overflow_error);
}

TEST(Text, TrimsSpacesOnly) {
  EXPECT_EQ(TrimSpaces(u"  a b  "), u"a b");
  EXPECT_EQ(TrimSpaces(u"\ta\t"), u"\ta\t");
  EXPECT_EQ(TrimSpaces(u"   "), u"");
  EXPECT_EQ(TrimLeadingSpaces(u"  a "), u"a ");
  EXPECT_EQ(TrimSpaces(u"\u3000a"), u"\u3000a");
}

// Each range of capitals at its ends and just outside them, lower-cased as Unicode does where
// the lower case is one unit; the dotted I (two units) stays.
TEST(Text, LowerCasesUnitByUnit) {
  EXPECT_EQ(ToLowerUnits(u"@AZ[¿À×ÞßĀįİĶĸĹŇňŉŊŶŸŹŽžΐΑΡ\u03A2ΣΫάЀЏАЯа＠ＡＺ［中"),
            u"@az[¿à×þßāįİķĸĺňňŉŋŷÿźžžΐαρ\u03A2σϋάѐџаяа＠ａｚ［中");
  EXPECT_TRUE(EqualsIgnoreCase(u"NOTEPAD.EXE", u"notepad.exe"));
  EXPECT_FALSE(EqualsIgnoreCase(u"a", u"ab"));
}

TEST(Text, SplitsKeepingEmptyPieces) {
  EXPECT_EQ(SplitCrLf(u""), std::vector<std::u16string>{u""});
  EXPECT_EQ(SplitCrLf(u"a\r\n\r\nb\r\n"), (std::vector<std::u16string>{u"a", u"", u"b", u""}));
  EXPECT_EQ(SplitCrLf(u"a\nb\rc"), std::vector<std::u16string>{u"a\nb\rc"});
  EXPECT_EQ(Split(u"|a||b|", u"|"), (std::vector<std::u16string>{u"", u"a", u"", u"b", u""}));
  EXPECT_EQ(Join({u"a", u"", u"b"}, u"\r\n"), u"a\r\n\r\nb");
}

TEST(Text, ReplacesLeftToRightWithoutOverlap) {
  EXPECT_EQ(ReplaceAll(u"\r\n\r\n\r\n", u"\r\n\r\n", u"\r\n"), u"\r\n\r\n");
  EXPECT_EQ(ReplaceAll(u"aaa", u"aa", u"b"), u"ba");
  EXPECT_EQ(ReplaceAll(u"a\\\\\\b", u"\\\\", u"\\"), u"a\\\\b");
  EXPECT_EQ(ReplaceAll(u"x", u"", u"y"), u"x");
  EXPECT_EQ(ReplaceAll(u"ab", u"b", u"bb"), u"abb");  // the replacement is not searched again
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
                                "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x90\x80\x80"}) {
    EXPECT_EQ(Utf8ToUtf16(bad + "a"), std::u16string(bad.size(), u'\uFFFD') + u"a") << bad;
  }
  for (const char16_t lone : {0xD800, 0xDBFF, 0xDC00, 0xDFFF}) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{lone, u'a'}),
              "\xEF\xBF\xBD"
              "a");
  }
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, 0xD800)), "\xEF\xBF\xBD");  // a high unit at the end
}

}  // namespace
}  // namespace sealupdate
