// The partial-body record as later runs read it, and when a body may be continued.
#include "download/partial_download.h"

#include <gtest/gtest.h>

namespace sealupdate {
namespace {

constexpr char16_t kUrl[] = u"https://example.com/dl/setup.exe?x=1#f";

using Fields = std::tuple<std::u16string, std::u16string, std::uint64_t>;

Fields FieldsOf(const std::optional<PartialRecord>& r) {
  return r ? Fields(r->url, r->validator, r->total) : Fields(u"none", u"", 0);
}

// The exact text the end-to-end tests write by hand: three LF-ended lines, in UTF-8.
TEST(PartialRecord, KeepsItsOnDiskFormatAndReadsItBack) {
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
}

// No total, a last line cut short, more lines, no address, no validator; a total without digits,
// with a sign, blanks, a CR, not decimal or beyond 64 bits.
TEST(PartialRecord, RefusesAnythingButThreeWholeLines) {
  for (const char* text :
       {"", "http://a/\n\"v\"\n", "http://a/\n\"v\"\n100", "http://a/\n\"v\"\n100\nmore\n",
        "\n\"v\"\n100\n", "http://a/\n\n100\n", "http://a/\n\"v\"\n\n", "http://a/\n\"v\"\n-5\n",
        "http://a/\n\"v\"\n 5\n", "http://a/\n\"v\"\n5 \n", "http://a/\n\"v\"\n100\r\n",
        "http://a/\n\"v\"\n0x10\n", "http://a/\n\"v\"\n18446744073709551616\n"})
    EXPECT_FALSE(ParsePartialRecord(text)) << text;
}

// Only the same address; something there but not all of it; a validator and a length.
TEST(PartialRecord, ResumesOnlyTheSameAddressWithAValidatorAndARestToAsk) {
  const std::tuple<std::u16string, std::u16string, std::uint64_t, std::uint64_t, bool> cases[] = {
      {kUrl, u"\"a\"", 1000, 1, true},
      {kUrl, u"\"a\"", 1000, 999, true},
      {u"https://example.com/dl/setup.exe?x=1", u"\"a\"", 1000, 500, false},
      {u"HTTPS://example.com/dl/setup.exe?x=1#f", u"\"a\"", 1000, 500, false},
      {kUrl, u"\"a\"", 1000, 0, false},
      {kUrl, u"\"a\"", 1000, 1000, false},
      {kUrl, u"", 1000, 500, false},
      {kUrl, u"\"a\"", 0, 500, false},
  };
  for (const auto& [url, validator, total, have, resumes] : cases) {
    EXPECT_EQ(MayResumePartial({kUrl, validator, total}, url, have), resumes) << have;
    if (url != kUrl) continue;
    EXPECT_EQ(MayContinue(validator, have, total), resumes) << have;  // a retry within a run
  }
}

// The answer to "Range: bytes=400-" with If-Range "a" for a body of 1000 bytes: the rest (a 206
// need not repeat the validator); the whole body (range ignored, If-Range failed); a mismatch for
// any other range, total or length, or another validator (Range honoured, If-Range not).
TEST(RangeAnswers, OnlyTheExactRestOfTheSameBodyContinuesIt) {
  using A = RangeAnswer;
  const std::u16string_view rest = u"bytes 400-999/1000", a = u"\"a\"", b = u"\"b\"";
  const std::tuple<std::uint32_t, std::uint64_t, std::u16string_view, std::u16string_view, A>
      cases[] = {
          {206, 600, rest, a, A::kRest},
          {206, 600, rest, u"", A::kRest},
          {200, 1000, u"", a, A::kWhole},
          {200, 1200, u"", b, A::kWhole},
          {206, 600, u"", a, A::kMismatch},
          {206, 600, u"bytes 1400-1999/2000", a, A::kMismatch},
          {206, 600, u"bytes 400-998/1000", a, A::kMismatch},
          {206, 600, u"bytes 400-1199/1200", a, A::kMismatch},
          {206, 0, rest, a, A::kMismatch},
          {206, 601, rest, a, A::kMismatch},
          {206, 600, rest, b, A::kMismatch},
          {206, 600, rest, u"W/\"a\"", A::kMismatch},
      };
  for (const auto& [status, length, range, validator, answer] : cases) {
    EXPECT_EQ(JudgeRangeAnswer({400, 1000, a}, {status, length, range, validator}), answer)
        << status << " " << length << " " << std::string(range.begin(), range.end());
  }
  // No range was asked for: whatever comes is the whole body.
  EXPECT_EQ(JudgeRangeAnswer({0, 0, u""}, {206, 600, rest, u""}), A::kWhole);
}

}  // namespace
}  // namespace sealupdate
