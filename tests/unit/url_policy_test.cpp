// Tests of the URL reader's portable rules: reference resolution, redirects, content codings,
// retries, ranges and read sizes.
#include "download/url_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "base/text.h"
#include "download/transfer_error.h"

namespace sealupdate {
namespace {

std::string U8(const std::u16string& text) { return Utf16ToUtf8(text); }

// The fragment never reaches the request; RFC 3986 section 5.4's examples, then Location shapes.
TEST(UrlPolicyTest, StripsFragmentsAndResolvesReferencesAsRfc3986Does) {
  EXPECT_EQ(U8(StripFragment(u"http://h/a?q=1#x#y")), "http://h/a?q=1");
  EXPECT_EQ(U8(StripFragment(u"http://h/a?q=%23")), "http://h/a?q=%23");
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
  EXPECT_EQ(U8(ResolveUrl(base, u"g:h")), "g:h");
  EXPECT_EQ(U8(ResolveUrl(u"http://h:8080", u"x")), "http://h:8080/x");  // empty base path
  EXPECT_EQ(U8(ResolveUrl(u"https://h/dl/a.bin", u" /dl/b.bin\r\n")), "https://h/dl/b.bin");
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
  // Error, body started, retried: timed out (12002), reset (12031); refused (12029) only once
  // the body flows.
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

// Too slow once the last minute averages under 1 KiB/s, judged a minute after the start at the
// earliest; fed each second of a clock far from zero.
TEST(UrlPolicyTest, ATransferAveragingUnderTheMinimumRateForAMinuteIsTooSlow) {
  using Curve = std::uint64_t (*)(std::uint64_t second);  // bytes arrived by then
  // The first second judged too slow (0: never in ten minutes); the watch's minute may reach
  // 3.75 s further back, judging up to 4 s later.
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
  EXPECT_EQ(std::tuple(range.first, range.last, range.total),
            std::tuple(std::uint64_t{100}, std::uint64_t{999}, std::uint64_t{1000}));
  for (const char16_t* bad :
       {u"", u"bytes", u"bytes 100-999/*", u"bytes */1000", u"bytes 100-/1000", u"bytes -999/1000",
        u"bytes 100-999", u"bytes 100-1000/1000", u"bytes 999-100/1000", u"items 1-2/3",
        u"bytes 1-2/3x", u"bytes 0-0/99999999999999999999", u"bytes +1-2/3"}) {
    EXPECT_FALSE(ParseContentRange(bad)) << U8(bad);
  }
}

// A body is taken as it is only when every coding listed is identity.
TEST(UrlPolicyTest, OnlyIdentityCodedBodiesAreTaken) {
  for (const char16_t* plain : {u"", u"identity", u" Identity ", u"identity, IDENTITY", u" , "})
    EXPECT_TRUE(IsIdentityEncoding(plain)) << U8(plain);
  for (const char16_t* coded :
       {u"gzip", u"gzip, identity", u"identity, br", u"identityx", u"x-gzip", u"identity;q=1"})
    EXPECT_FALSE(IsIdentityEncoding(coded)) << U8(coded);
}

// Reads take what has arrived until kMinPacedRead bytes have shown the link's rate; then, while
// that rate fills kMinPacedRead in the pace window, what arrives in that window.
TEST(UrlPolicyTest, ReadsAreSizedByArrivalUntilTheLinkProvesFast) {
  constexpr std::uint32_t kBuffer = 256 * 1024;
  constexpr std::uint64_t kWindow = ReadPacer::kPaceWindowUs;
  ReadPacer pacer(kBuffer);
  EXPECT_TRUE(pacer.SizeByArrival());
  EXPECT_EQ(std::vector<std::uint32_t>({pacer.Next(0), pacer.Next(1000), pacer.Next(1u << 30)}),
            std::vector<std::uint32_t>({1, 1000, kBuffer}));
  // Fast, but judged on too little: still by arrival.
  pacer.Record(ReadPacer::kMinPacedRead - 1, 1);
  EXPECT_TRUE(pacer.SizeByArrival());
  // One more byte completes the sample: kMinPacedRead in half the window paces twice as much.
  pacer.Record(1, kWindow / 2 - 1);
  EXPECT_FALSE(pacer.SizeByArrival());
  EXPECT_EQ(pacer.Next(5), 2 * ReadPacer::kMinPacedRead);
  // A faster link asks for at most the buffer.
  pacer.Record(kBuffer, kWindow / 100);
  EXPECT_EQ(pacer.Next(5), kBuffer);
  // A link that slows down goes back to reads of what has arrived.
  pacer.Record(ReadPacer::kMinPacedRead, 2 * kWindow);
  EXPECT_TRUE(pacer.SizeByArrival());
  EXPECT_EQ(pacer.Next(7), 7u);
}

}  // namespace
}  // namespace sealupdate
