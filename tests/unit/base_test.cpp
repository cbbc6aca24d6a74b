// Text helpers and path containment, and the URL rules built on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <tuple>
#include <utility>
#include <vector>

#include "base/paths.h"
#include "base/text.h"
#include "download/url_policy.h"
#include "download/url_reader.h"

namespace sealupdate {
namespace {

using Pieces = std::vector<std::u16string>;

// Signs, fractions, exponents (E or D, not without digits); blanks, tabs and line feeds skipped
// anywhere, CR not; the first unit that cannot continue ends the number, nothing readable is 0,
// full-width digits are no digits; after "&H" up to eight hexadecimal digits are a signed 32-bit
// pattern, more are their plain value.
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
  EXPECT_EQ(ParseLeadingNumber(u"&H7FFFFFFF"), 0x7FFFFFFF);
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
  EXPECT_FALSE(EqualsIgnoreCase(u"a", u"ab") || EqualsIgnoreCase(u"ab", u"ac"));
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
  // Lone surrogates around a pair at the ends of the ranges, a high one also at the end.
  EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'a', 0xDBFF, 0xDC00, 0xDFFF, 0xD800}),
            "\xEF\xBF\xBD"
            "a\xF4\x8F\xB0\x80\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Letter case, either separator, doubled ones, "." and ".." segments and namespace prefixes on
// either side; the folder itself, a sibling with a longer name, climbing above a root, UNC roots,
// relative, drive-relative, NT device and empty paths.
TEST(Paths, IsInsideFolder) {
  for (const char16_t* path :
       {u"C:\\App\\main.exe", u"c:\\APP\\MAIN.EXE", u"C:/App/main.exe", u"C:\\App\\.\\main.exe",
        u"C:\\\\App\\\\sub\\\\main.exe", u"C:\\Other\\..\\App\\main.exe", u"\\??\\C:\\App\\a.exe",
        u"\\\\?\\C:\\App\\main.exe", u"\\\\.\\C:\\App\\main.exe"}) {
    EXPECT_TRUE(IsInsideFolder(path, u"C:\\App\\")) << Utf16ToUtf8(path);
  }
  for (const char16_t* path :
       {u"C:\\App2\\main.exe", u"C:\\Ap\\main.exe", u"C:\\main.exe", u"D:\\App\\main.exe",
        u"C:\\App\\", u"C:\\App", u"C:\\App\\sub\\..", u"C:\\App\\..\\App2\\main.exe",
        u"C:/App/sub/../../Other/main.exe", u"C:\\..\\App\\main.exe", u"\\\\C:\\App\\main.exe",
        u"\\Device\\HarddiskVolume2\\App\\main.exe", u""}) {
    EXPECT_FALSE(IsInsideFolder(path, u"C:\\App\\")) << Utf16ToUtf8(path);
  }
  // Other folders, as "folder|path".
  for (const char16_t* inside :
       {u"C:\\App|C:\\App\\bin\\a.exe", u"C:/App/|C:\\App\\a.exe",
        u"\\\\?\\C:\\App\\|C:\\App\\a.exe", u"C:\\|C:\\a.exe", u"a:\\App|A:\\App\\a.exe",
        u"Z:\\App|z:\\App\\a.exe", u"c:\\программа\\|C:\\ПРОГРАММА\\a.exe",
        u"/opt/app/\\|/opt/app/a.exe", u"\\\\srv\\share\\App\\|\\\\?\\UNC\\srv\\share\\App\\a.exe",
        u"\\\\srv\\share\\App\\|\\\\SRV\\Share\\App\\a.exe"}) {
    EXPECT_TRUE(IsInsideFolder(Split(inside, u"|")[1], Split(inside, u"|")[0]))
        << Utf16ToUtf8(inside);
  }
  for (const char16_t* outside :
       {u"C:\\App|C:\\AppX.exe", u"C:\\|C:App\\a.exe",
        u"\\\\srv\\share\\App\\|\\\\srv2\\share\\App\\a.exe",
        u"\\\\srv\\share\\App\\|\\srv\\share\\App\\a.exe",
        u"\\\\srv\\share2\\App\\|\\\\srv\\share\\App\\a.exe",
        u"\\\\srv\\other\\App\\|\\\\srv\\share\\..\\other\\App\\a.exe",
        u"\\\\srv\\.\\App\\|\\\\srv\\.\\App\\a.exe", u"\\\\srv\\|\\\\srv\\a.exe",
        u"C:\\..\\App\\|C:\\App\\a.exe", u"App\\|App\\a.exe", u"C:App\\|C:App\\a.exe",
        u"1:\\App\\|1:\\App\\a.exe", u"|C:\\App\\a.exe"}) {
    EXPECT_FALSE(IsInsideFolder(Split(outside, u"|")[1], Split(outside, u"|")[0]))
        << Utf16ToUtf8(outside);
  }
}

// ---- The URL reader's portable rules: reference resolution, redirects, codings, retries and
// ranges ----

std::string U8(const std::u16string& text) { return Utf16ToUtf8(text); }

// The fragment never reaches the request; the examples of RFC 3986 section 5.4 against its
// base, then the shapes Location values take.
TEST(UrlPolicyTest, StripsFragmentsAndResolvesReferencesAsRfc3986Does) {
  EXPECT_EQ(U8(StripFragment(u"http://h/a?q=1#x#y") + StripFragment(u"http://h/a?q=%23")),
            "http://h/a?q=1http://h/a?q=%23");
  const std::u16string base = u"http://a/b/c/d;p?q";
  // Targets on the host "a", without their "http://a/".
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"g", u"b/c/g"}, {u"g/", u"b/c/g/"},    {u"g?y/./x", u"b/c/g?y/./x"},
      {u"/g", u"g"},    {u"?y", u"b/c/d;p?y"}, {u"#s", u"b/c/d;p?q#s"},
      {u".", u"b/c/"},  {u"..", u"b/"},        {u"g;x=1/../y", u"b/c/y"},
      {u"../..", u""},  {u"../../../g", u"g"}, {u"", u"b/c/d;p?q"},
  };
  for (const auto& [reference, target] : cases) {
    EXPECT_EQ(U8(ResolveUrl(base, reference)), "http://a/" + U8(target)) << U8(reference);
  }
  EXPECT_EQ(U8(ResolveUrl(base, u"g:h") + ResolveUrl(base, u"http:g") + ResolveUrl(base, u"//g")),
            "g:hhttp:ghttp://g");
  EXPECT_EQ(U8(ResolveUrl(base, u"g#s/../x")), "http://a/b/c/g#s/../x");
  EXPECT_EQ(U8(ResolveUrl(u"http://h:8080", u"x")), "http://h:8080/x");  // empty base path
  EXPECT_EQ(U8(ResolveUrl(u"https://h/dl/a.bin", u" /dl/b.bin\r\n")), "https://h/dl/b.bin");
  EXPECT_EQ(U8(ResolveUrl(u"HTTP://h/a/", u"B")), "HTTP://h/a/B");
  EXPECT_EQ(ResolveUrl(u"/relative/base", u"x"), u"");
}

TEST(UrlPolicyTest, RedirectsStayOnHttpNeverDowngradeAndEnd) {
  using F = TransferFailure;
  // From, Location, redirects followed so far, failure, next address.
  const std::tuple<const char16_t*, const char16_t*, int, F, const char16_t*> cases[] = {
      {u"http://h:81/doc.ini?x=1", u"/dl/pkg.bin", 0, F::kNone, u"http://h:81/dl/pkg.bin"},
      {u"http://h/a/doc.ini", u"pkg.bin#part", 3, F::kNone, u"http://h/a/pkg.bin"},
      {u"http://h/doc", u"https://m/doc", 0, F::kNone, u"https://m/doc"},
      {u"https://h/doc", u"//m/doc", 0, F::kNone, u"https://m/doc"},
      {u"http://h/doc", u"http://m/doc", kMaxRedirects - 1, F::kNone, u"http://m/doc"},
      {u"http://h/doc", u"http://m/doc", kMaxRedirects, F::kTooManyRedirects, u""},
      {u"https://h/doc", u"Http://m/doc", 0, F::kRedirectToHttp, u""},
      {u"http://h/doc", u"  ", 0, F::kBadRedirect, u""},
      {u"http://h/doc", u"ftp://h/pkg.bin", 0, F::kBadRedirect, u""},
      {u"http://h/doc", u"file:///C:/Windows/notepad.exe", 0, F::kBadRedirect, u""},
      {u"http://h/doc", u"javascript:alert(1)", 0, F::kBadRedirect, u""},
      {u"http://h/doc", u"http:pkg.bin", 0, F::kBadRedirect, u""},  // no host to ask
      {u"http://h/doc", u"http:///pkg.bin", 0, F::kBadRedirect, u""},
  };
  for (const auto& [current, location, followed, error, next] : cases) {
    const RedirectStep step = NextRedirect(current, location, followed);
    EXPECT_EQ(step.error.kind, error) << U8(current) << " -> " << U8(location);
    EXPECT_EQ(U8(step.url), U8(next)) << U8(current) << " -> " << U8(location);
  }
}

TEST(UrlPolicyTest, OnlyFailuresALaterTryCanCureAreRetried) {
  // Error, body started, retried: timed out or stalled (12002), reset (12031); refused (12029)
  // goes on to the next address, unless the body flows.
  using F = TransferFailure;
  const std::tuple<TransferError, bool, bool> cases[] = {
      {F::kBodyShort, true, true},          {F::kNoResponse, false, true},
      {HttpStatusError(500), false, true},  {HttpStatusError(408), false, true},
      {HttpStatusError(429), false, true},  {HttpStatusError(404), false, false},
      {HttpStatusError(416), false, false}, {SystemError(12002), false, true},
      {SystemError(12031), false, true},    {SystemError(12029), false, false},
      {SystemError(12029), true, true},     {F::kDiskFull, true, false},
      {F::kContentEncoding, false, false},  {F::kTooSlow, true, true},
  };
  for (const auto& [error, started, retried] : cases)
    EXPECT_EQ(IsRetryable(error, started), retried) << ErrorNumber(error) << " started " << started;
  // Doubling, saturated rather than wrapped.
  EXPECT_EQ(
      std::vector<std::uint32_t>({BackoffMs(1000, 0), BackoffMs(1000, 2), BackoffMs(1000, 40)}),
      std::vector<std::uint32_t>({1000, 4000, 0xFFFF'FFFF}));
}

// Too slow once what arrived over the last minute averages under 1 KiB/s, judged a minute after
// the start at the earliest; fed each second of a clock far from zero.
TEST(UrlPolicyTest, ATransferAveragingUnderTheMinimumRateForAMinuteIsTooSlow) {
  using Curve = std::uint64_t (*)(std::uint64_t second);  // bytes arrived by then
  // The first second judged too slow (0: never within ten minutes) for an average over exactly
  // the last minute; the watch's may reach up to 3.75 s further back, judging up to 4 s later.
  const std::tuple<const char*, Curve, std::uint64_t> cases[] = {
      {"silent", [](std::uint64_t) -> std::uint64_t { return 0; }, 60},
      {"a byte every 20 s", [](std::uint64_t s) { return s / 20; }, 60},
      {"1023 B/s", [](std::uint64_t s) { return s * 1023; }, 60},
      {"1 KiB/s", [](std::uint64_t s) { return s * 1024; }, 0},
      {"a slow real link, 3 KiB/s", [](std::uint64_t s) { return s * 3072; }, 0},
      {"100 MiB, then silent",
       [](std::uint64_t s) { return std::min<std::uint64_t>(s, 1) * 100 << 20; }, 61},
      {"4 KiB/s for 100 s, then 100 B/s",
       [](std::uint64_t s) { return s < 100 ? s * 4096 : 409'600 + (s - 100) * 100; }, 147},
  };
  constexpr std::uint64_t kStart = 5'000'000'000;  // a tick count long after boot
  for (const auto& [name, bytesBy, second] : cases) {
    SlowTransferWatch watch(kStart, 60'000, 1024);
    std::uint64_t judged = 0;
    for (std::uint64_t s = 1; s <= 600 && judged == 0; ++s) {
      if (watch.TooSlow(kStart + s * 1000, bytesBy(s))) judged = s;
    }
    EXPECT_TRUE(second == 0 ? judged == 0 : judged >= second && judged <= second + 4)
        << name << ": too slow at " << judged;
  }
}

TEST(UrlPolicyTest, ContentRangesAreReadStrictly) {
  const auto range = ParseContentRange(u" Bytes 100-999/1000 ").value_or(ContentRange{});
  EXPECT_EQ(std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
                std::to_string(range.total),
            "100-999/1000");
  for (const char16_t* bad :
       {u"", u"bytes", u"bytes 100-999/*", u"bytes */1000", u"bytes 100-/1000", u"bytes -999/1000",
        u"bytes 100-999", u"bytes 100-1000/1000", u"bytes 999-100/1000", u"items 1-2/3",
        u"bytes 1-2/3x", u"bytes 0-0/99999999999999999999", u"bytes +1-2/3"}) {
    EXPECT_FALSE(ParseContentRange(bad)) << U8(bad);
  }
}

}  // namespace
}  // namespace sealupdate
