// Address rules, the URL reader's portable rules, the partial-body record, the downloader's tasks.
#include "download/url_policy.h"

#include "download/downloader.h"
#include "download/partial_download.h"
#include "flow_fakes.h"
#include "model/addresses.h"
#include "scratch.h"

namespace sealupdate {
namespace {

TEST(Addresses, PackageNamesThatCouldLeaveTheFolderAreRefused) {
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
    EXPECT_FALSE(PackageFileName(u"http://h/" + parts[0], parts[1])) << Utf16ToUtf8(address);
  }
  EXPECT_EQ(PackageFileName(u"http://h", u""), std::nullopt);  // the host is no name
  for (const char16_t* c :
       {u"HTTPS://h|1", u"Http://|1", u"http:/h|", u"file:///C:/x.exe|", u" http://h|", u"https:|"})
    EXPECT_EQ(IsWebAddress(Split(c, u"|")[0]), !Split(c, u"|")[1].empty()) << Utf16ToUtf8(c);
}

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
  for (const auto& [reference, target] : cases)
    EXPECT_EQ(U8(ResolveUrl(base, reference)), "http://a/" + U8(target)) << U8(reference);
  EXPECT_EQ(U8(ResolveUrl(base, u"g:h")), "g:h");
  EXPECT_EQ(U8(ResolveUrl(u"http://h:8080", u"x")), "http://h:8080/x");  // empty base path
  EXPECT_EQ(U8(ResolveUrl(u"https://h/dl/a.bin", u" /dl/b.bin\r\n")), "https://h/dl/b.bin");
  EXPECT_EQ(ResolveUrl(u"/relative/base", u"x"), u"");
}

using F = TransferFailure;

TEST(UrlPolicyTest, RedirectsStayOnHttpNeverDowngradeAndEnd) {
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
  // Error, body started, retried. WinINet: 12002 timed out, 12031 reset, 12029 refused.
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
  EXPECT_EQ(std::tuple(BackoffMs(1000, 0), BackoffMs(1000, 2), BackoffMs(1000, 40)),
            std::tuple(1000u, 4000u, 0xFFFF'FFFFu));
}

// Too slow once the last minute averages under 1 KiB/s, judged no sooner than a minute in.
TEST(UrlPolicyTest, ATransferAveragingUnderTheMinimumRateForAMinuteIsTooSlow) {
  using Curve = std::uint64_t (*)(std::uint64_t second);  // bytes arrived by then
  // The first second judged too slow (0: never in ten minutes); the watch may judge 4 s late.
  const std::tuple<const char*, Curve, std::uint64_t> cases[] = {
      {"silent", [](std::uint64_t) -> std::uint64_t { return 0; }, 60},
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
    for (std::uint64_t s = 1; s <= 600 && judged == 0; ++s)
      if (watch.TooSlow(kStart + s * 1000, bytesBy(s))) judged = s;
    EXPECT_TRUE(second == 0 ? judged == 0 : judged >= second && judged <= second + 4)
        << name << ": too slow at " << judged;
  }
}

TEST(UrlPolicyTest, ContentRangesAndCodingsAreReadStrictly) {
  const auto range = ParseContentRange(u" Bytes 100-999/1000 ").value_or(ContentRange{});
  EXPECT_EQ(std::tuple(range.first, range.last, range.total),
            std::tuple(std::uint64_t{100}, std::uint64_t{999}, std::uint64_t{1000}));
  for (const char16_t* bad :
       {u"", u"bytes", u"bytes 100-999/*", u"bytes */1000", u"bytes 100-/1000", u"bytes -999/1000",
        u"bytes 100-999", u"bytes 100-1000/1000", u"bytes 999-100/1000", u"items 1-2/3",
        u"bytes 1-2/3x", u"bytes 0-0/99999999999999999999", u"bytes +1-2/3"})
    EXPECT_FALSE(ParseContentRange(bad)) << U8(bad);
  // A body is taken as it is only when every coding listed is identity.
  for (const char16_t* plain : {u"", u"identity", u" Identity ", u"identity, IDENTITY", u" , "})
    EXPECT_TRUE(IsIdentityEncoding(plain)) << U8(plain);
  for (const char16_t* coded :
       {u"gzip", u"gzip, identity", u"identity, br", u"identityx", u"x-gzip", u"identity;q=1"})
    EXPECT_FALSE(IsIdentityEncoding(coded)) << U8(coded);
}

constexpr char16_t kUrl[] = u"https://example.com/dl/setup.exe?x=1#f";

using Fields = std::tuple<std::u16string, std::u16string, std::uint64_t>;

Fields FieldsOf(const std::optional<PartialRecord>& r) {
  return r ? Fields(r->url, r->validator, r->total) : Fields(u"none", u"", 0);
}

// The exact text the end-to-end tests write by hand: three LF-ended lines, in UTF-8.
TEST(PartialRecord, KeepsItsOnDiskFormatAndRefusesAnyOther) {
  const PartialRecord record{kUrl, u"\"v1\"", 123456789012345};
  EXPECT_EQ(FormatPartialRecord(record),
            "https://example.com/dl/setup.exe?x=1#f\n\"v1\"\n123456789012345\n");
  for (const PartialRecord& r :
       {record, PartialRecord{u"http://例え.jp/更新.exe", u"Mon, 07 Dec 2026 05:00:00 GMT", 1}})
    EXPECT_EQ(FieldsOf(ParsePartialRecord(FormatPartialRecord(r).value_or(""))), FieldsOf(r));
  EXPECT_EQ(FieldsOf(ParsePartialRecord("u\nv\n18446744073709551615\n")),
            Fields(u"u", u"v", UINT64_MAX));
  // A line break would shift the lines of the record read back: none is written.
  EXPECT_FALSE(FormatPartialRecord({u"http://a/\nb", u"\"v\"", 5}));
  EXPECT_FALSE(FormatPartialRecord({u"http://a/", u"\"v\"\r", 5}));
  // A line missing, cut or extra; no address or validator; a total not plain decimal in 64 bits.
  for (const char* text :
       {"", "http://a/\n\"v\"\n", "http://a/\n\"v\"\n100", "http://a/\n\"v\"\n100\nmore\n",
        "\n\"v\"\n100\n", "http://a/\n\n100\n", "http://a/\n\"v\"\n\n", "http://a/\n\"v\"\n-5\n",
        "http://a/\n\"v\"\n 5\n", "http://a/\n\"v\"\n5 \n", "http://a/\n\"v\"\n100\r\n",
        "http://a/\n\"v\"\n0x10\n", "http://a/\n\"v\"\n18446744073709551616\n"})
    EXPECT_FALSE(ParsePartialRecord(text)) << text;
}

// Only the same address; something there but not all of it; a validator and a length.
TEST(PartialRecord, ResumesOnlyTheSameAddressWithAValidatorAndARestToAsk) {
  const std::u16string other = u"https://example.com/dl/setup.exe?x=1",
                       upper = u"HTTPS://example.com/dl/setup.exe?x=1#f";
  const std::tuple<std::u16string, std::u16string, std::uint64_t, std::uint64_t, bool> cases[] = {
      {kUrl, u"\"a\"", 1000, 1, true},     {kUrl, u"\"a\"", 1000, 999, true},
      {other, u"\"a\"", 1000, 500, false}, {upper, u"\"a\"", 1000, 500, false},
      {kUrl, u"\"a\"", 1000, 0, false},    {kUrl, u"\"a\"", 1000, 1000, false},
      {kUrl, u"", 1000, 500, false},       {kUrl, u"\"a\"", 0, 500, false},
  };
  for (const auto& [url, validator, total, have, resumes] : cases) {
    EXPECT_EQ(MayResumePartial({kUrl, validator, total}, url, have), resumes) << have;
    if (url != kUrl) continue;
    EXPECT_EQ(MayContinue(validator, have, total), resumes) << have;  // a retry within a run
  }
}

// Answers to "Range: bytes=400-" with If-Range "a" for 1000 bytes: the rest (a 206 need not repeat
// the validator), the whole body, or a mismatch (another range, total, length or validator).
TEST(RangeAnswers, OnlyTheExactRestOfTheSameBodyContinuesIt) {
  using A = RangeAnswer;
  const std::u16string_view rest = u"bytes 400-999/1000", a = u"\"a\"", b = u"\"b\"",
                            otherStart = u"bytes 1400-1999/2000", otherEnd = u"bytes 400-998/1000",
                            otherTotal = u"bytes 400-1199/1200", weak = u"W/\"a\"";
  using Row = std::tuple<std::uint32_t, std::uint64_t, std::u16string_view, std::u16string_view, A>;
  const Row cases[] = {
      {206, 600, rest, a, A::kRest},         {206, 600, rest, u"", A::kRest},
      {200, 1000, u"", a, A::kWhole},        {200, 1200, u"", b, A::kWhole},
      {206, 600, u"", a, A::kMismatch},      {206, 600, otherStart, a, A::kMismatch},
      {206, 600, otherEnd, a, A::kMismatch}, {206, 600, otherTotal, a, A::kMismatch},
      {206, 0, rest, a, A::kMismatch},       {206, 601, rest, a, A::kMismatch},
      {206, 600, rest, b, A::kMismatch},     {206, 600, rest, weak, A::kMismatch},
  };
  for (const auto& [status, length, range, validator, answer] : cases)
    EXPECT_EQ(JudgeRangeAnswer({400, 1000, a}, {status, length, range, validator}), answer)
        << status << " " << length << " " << std::string(range.begin(), range.end());
  EXPECT_EQ(JudgeRangeAnswer({0, 0, u""}, {206, 600, rest, u""}), A::kWhole);  // none asked
}

struct DownloaderTest : ::testing::Test {
  void SetUp() override { dl.SetEvents(&rig); }
  Rig rig;
  std::u16string folder = ScratchFolder();
  Downloader dl{rig, rig, rig, folder};
};

// Progress: this attempt's bytes over its time against the real rest; removed tasks are silent.
TEST_F(DownloaderTest, EventsCarryTheCountsInOrderAndRemovedTasksEndSilently) {
  dl.BeginDownload(u"http://h/a", u"A");
  dl.BeginDownload(u"http://h/b", u"B");
  rig.sink->OnReadProgress(u"A", 10, 0);  // no size: no event
  rig.now += 10;
  rig.sink->OnReadProgress(u"A", 40960, 102400);  // 4 KiB/s, 60 KiB left
  rig.sink->OnReadRetry(u"A", 1, 3, 40960);       // resumes at 40 KiB
  rig.now += 2;
  rig.sink->OnReadProgress(u"A", 61440, 102400);  // 20 KiB in 2 s, 40 KiB left
  rig.sink->OnReadRetry(u"A", 2, 3, 61440);       // announced a resume, got the whole body again
  rig.now += 1;
  rig.sink->OnReadProgress(u"A", 10240, 102400);
  rig.Body("body-a", {}, u"A");
  rig.Body("", SystemError(12029), u"B");  // a failure: the buffer keeps the previous body
  rig.Body("late", {}, u"B");              // dropped
  // After the last removal the list starts over: a task in the new slot 1 still reports.
  dl.BeginDownload(u"http://h/c", u"C");
  rig.sink->OnReadProgress(u"C", 5, 10);
  dl.BeginDownload(u"d", u"D");
  EXPECT_TRUE(dl.RemoveTask(u"c"));   // any letter case; the read is cancelled by its key
  EXPECT_FALSE(dl.RemoveTask(u"c"));  // gone
  dl.RemoveAllTasks();
  rig.sink->OnReadProgress(u"C", 1, 2);
  rig.Body("late", {}, u"D");
  rig.File(u"D", "late");  // a late file is deleted, never moved
  EXPECT_EQ(dl.Body(), "body-a");
  EXPECT_EQ(rig.Take(),
            "start A http://h/a; add A http://h/a [] 1; start B http://h/b; add B http://h/b [] 2; "
            "progress A 40960/102400 4.00 KB/S 00:00:15 2; retry A 1/3; "
            "progress A 61440/102400 10.00 KB/S 00:00:04 2; retry A 2/3; "
            "progress A 10240/102400 10.00 KB/S 00:00:09 2; cancel A; "
            "complete A [] \"body-a\" 0 1; cancel B; complete B [] \"body-a\" 12029 0; "
            "start C http://h/c; add C http://h/c [] 1; progress C 5/10 0.00 KB/S 00:00:00 1; "
            "start D d; add D d [] 2; cancel C; cancel D; discard; ");
}

TEST_F(DownloaderTest, HandlersMayStartTasksWhileANameIsProbedOrATaskCompletes) {
  rig.onComplete = [&](S name, TransferError error) {
    if (error) {
      EXPECT_EQ(dl.BeginDownload(u"mirror", name), name);  // under the same name
    }
  };
  dl.BeginDownload(u"first", u"检查新版本");
  rig.Body("", HttpStatusError(404));
  rig.Body("doc");
  dl.BeginDownload(u"a", u"T");
  dl.BeginDownload(u"b", u"T(1)");
  dl.BeginDownload(u"c", u"Other");
  // Between the probes the completions of "Other" and then of "T(1)" are waiting.
  rig.queue = {[&] { rig.Body("o", {}, u"Other"); }, [&] { rig.Body("t", {}, u"T(1)"); }};
  EXPECT_EQ(dl.BeginDownload(u"d", u"t"), u"t(2)");
  EXPECT_EQ(rig.Take(),
            "start 检查新版本 first; add 检查新版本 first [] 1; cancel 检查新版本; "
            "complete 检查新版本 [] \"\" 404 0; start 检查新版本 mirror; "
            "add 检查新版本 mirror [] 1; cancel 检查新版本; complete 检查新版本 [] \"doc\" 0 0; "
            "start T a; add T a [] 1; start T(1) b; add T(1) b [] 2; start Other c; "
            "add Other c [] 3; cancel Other; complete Other [] \"o\" 0 2; cancel T(1); "
            "complete T(1) [] \"t\" 0 1; start t(2) d; add t(2) d [] 2; ");
}

// Rates in KB/S or MB/S, hours past a day; a drive's root and a share's "\\" kept in save paths.
TEST(DownloaderText, RateTimeLeftAndSavePaths) {
  // Bytes read, total, whole seconds, then the texts.
  const std::tuple<double, double, std::int64_t, const char16_t*, const char16_t*> cases[] = {
      {10240, 20480, 10, u"1.00 KB/S", u"00:00:10"},
      {1024, 1024.0 * 700001, 1, u"1.00 KB/S", u"194:26:40"},     // about 8 days
      {1024, 1024.0 * 15724801, 1, u"1.00 KB/S", u"4368:00:00"},  // 182 days
      {3 << 20, 6 << 20, 1, u"3.00 MB/S", u"00:00:01"},
      {2048, 1024, 1, u"2.00 KB/S", u"00:00:00"},  // a total below the bytes read
      {0, 1024, 5, u"0.00 KB/S", u"-"},
      {512, 1024, 0, u"0.50 KB/S", u"00:00:00"},
  };
  for (const auto& [read, total, seconds, rate, left] : cases)
    EXPECT_EQ(Downloader::RateTexts(read, total, seconds),
              std::pair(std::u16string(rate), std::u16string(left)));
  const auto root = Downloader::NormalizeSavePath(u"D:\\", u"C:\\app"),
             share = Downloader::NormalizeSavePath(u"u\\\\x.exe", u"\\\\srv\\s\\app");
  EXPECT_EQ(root.folder + u"|" + root.path + u"|" + share.folder + u"|" + share.path,
            u"D:\\|D:\\|\\\\srv\\s\\app\\u\\|\\\\srv\\s\\app\\u\\x.exe");
}

// Every way a file task ends: a refused body is deleted, never moved; an old part, read afresh.
TEST_F(DownloaderTest, FileTasksAndTheirErrors) {
  dl.SetBodyCheck([](DownloadedFile& body, S) {
    return body.Size() == 3 ? TransferFailure::kPackageMismatch : TransferError();
  });
  // The folder is created; the finished file is moved onto the save path.
  EXPECT_EQ(dl.BeginDownload(u"u", u"下载更新文件", u"update\\a?b.exe"), u"下载更新文件");
  EXPECT_TRUE(std::filesystem::is_directory(NativePath(folder + u"\\update")));
  rig.File(u"下载更新文件", "12345");
  dl.BeginDownload(u"u", u"held", u"update\\h.exe");
  rig.File(u"held", "12345", TransferFailure::kAccessDenied);
  dl.BeginDownload(u"u", u"cut", u"c.exe");
  rig.File(u"cut", "123");
  dl.BeginDownload(u"u", u"P", u"p.exe");
  rig.sink->OnReadRetry(u"P", 0, 3, 100);  // continues an earlier run's body: not a retry
  rig.File(u"P", "abc", {}, true);
  rig.File(u"P", "abc");
  dl.BeginDownload(u"u", u"empty", u"e.exe");
  rig.File(u"empty", "");
  dl.BeginDownload(u"u", u"mem");
  rig.Body("");
  // A folder blocked by a file: 71 before BeginDownload returns, with the caller's path.
  ASSERT_TRUE(WriteWholeFile(folder + u"\\block", "x"));
  EXPECT_EQ(dl.BeginDownload(u"u", u"blocked", u"block\\sub\\x.exe"), u"");
  // A reader that cannot start: its error, after the task was registered and removed.
  rig.startError = SystemError(12005);
  EXPECT_EQ(dl.BeginDownload(u"bad", u"", u"y.exe"), u"");
  EXPECT_EQ(
      rig.Take(folder),
      "start 下载更新文件 u -> ~\\update\\a_b.exe; add 下载更新文件 u [~\\update\\a_b.exe] 1; "
      "move ~\\update\\a_b.exe; cancel 下载更新文件; "
      "complete 下载更新文件 [~\\update\\a_b.exe] \"\" 0 0; "
      "start held u -> ~\\update\\h.exe; add held u [~\\update\\h.exe] 1; "
      "move ~\\update\\h.exe; discard; cancel held; complete held [~\\update\\h.exe] \"\" 70 0; "
      "start cut u -> ~\\c.exe; add cut u [~\\c.exe] 1; discard; cancel cut; "
      "complete cut [~\\c.exe] \"\" 8023 0; "
      "start P u -> ~\\p.exe; add P u [~\\p.exe] 1; discard; start P u -> ~\\p.exe; discard; "
      "cancel P; complete P [~\\p.exe] \"\" 8023 0; "
      "start empty u -> ~\\e.exe; add empty u [~\\e.exe] 1; discard; cancel empty; "
      "complete empty [~\\e.exe] \"\" 8001 0; "
      "start mem u; add mem u [] 1; cancel mem; complete mem [] \"\" 8001 0; "
      "complete blocked [block\\sub\\x.exe] \"\" 71 0; "
      "start DownloadTask bad -> ~\\y.exe; cancel DownloadTask; "
      "complete DownloadTask [~\\y.exe] \"\" 12005 0; ");
}

}  // namespace
}  // namespace sealupdate
