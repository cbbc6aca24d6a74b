// The partial-body record as later runs read it, and when a body may be continued.
#include <gtest/gtest.h>

#include <string>

#include "download/partial_download.h"

namespace sealupdate {
namespace {

constexpr char16_t kUrl[] = u"https://example.com/dl/setup.exe?x=1#f";

// The exact text other tools (and the end-to-end tests) write by hand: three LF-ended lines.
TEST(PartialRecord, KeepsItsOnDiskFormatAndReadsItBack) {
  const PartialRecord record{kUrl, u"\"v1\"", 123456789012345};
  const std::string text = FormatPartialRecord(record).value_or("");
  EXPECT_EQ(text, "https://example.com/dl/setup.exe?x=1#f\n\"v1\"\n123456789012345\n");
  const auto back = ParsePartialRecord(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->url, record.url);
  EXPECT_EQ(back->validator, record.validator);
  EXPECT_EQ(back->total, record.total);

  // Non-ASCII addresses and Last-Modified dates as validators survive in UTF-8.
  const PartialRecord wide{u"http://例え.jp/更新.exe", u"Mon, 07 Dec 2026 05:00:00 GMT", 1};
  const auto again = ParsePartialRecord(FormatPartialRecord(wide).value_or(""));
  ASSERT_TRUE(again);
  EXPECT_EQ(again->url, wide.url);
  EXPECT_EQ(again->validator, wide.validator);
  EXPECT_EQ(ParsePartialRecord("u\nv\n18446744073709551615\n").value_or(PartialRecord{}).total,
            UINT64_MAX);

  // A line break would shift the lines of the record read back: none is written.
  EXPECT_FALSE(FormatPartialRecord({u"http://a/\nb", u"\"v\"", 5}));
  EXPECT_FALSE(FormatPartialRecord({u"http://a/", u"\"v\"\r", 5}));
}

TEST(PartialRecord, RefusesAnythingButThreeWholeLines) {
  const char* const bad[] = {
      "",
      "http://a/\n\"v\"\n",             // no total
      "http://a/\n\"v\"\n100",          // the last line cut short while written
      "http://a/\n\"v\"\n100\nmore\n",  // more than three lines
      "\n\"v\"\n100\n",                 // no address
      "http://a/\n\n100\n",             // no validator: nothing to tell the body by
      "http://a/\n\"v\"\n\n",           // no digits
      "http://a/\n\"v\"\n-5\n",         // a sign
      "http://a/\n\"v\"\n+5\n",
      "http://a/\n\"v\"\n 5\n",  // blanks
      "http://a/\n\"v\"\n5 \n",
      "http://a/\n\"v\"\n100\r\n",                 // a CR
      "http://a/\n\"v\"\n0x10\n",                  // not decimal
      "http://a/\n\"v\"\n18446744073709551616\n",  // beyond 64 bits
      "http://a/\n\"v\"\n99999999999999999999999\n",
  };
  for (const char* text : bad) EXPECT_FALSE(ParsePartialRecord(text)) << text;
}

TEST(PartialRecord, ResumesOnlyTheSameAddressWithAValidatorAndARestToAsk) {
  const PartialRecord record{kUrl, u"\"a\"", 1000};
  EXPECT_TRUE(MayResumePartial(record, kUrl, 1));
  EXPECT_TRUE(MayResumePartial(record, kUrl, 999));

  // Another address, however close: its body is another body.
  EXPECT_FALSE(MayResumePartial(record, u"https://example.com/dl/setup.exe?x=2#f", 500));
  EXPECT_FALSE(MayResumePartial(record, u"https://example.com/dl/setup.exe?x=1", 500));
  EXPECT_FALSE(MayResumePartial(record, u"HTTPS://example.com/dl/setup.exe?x=1#f", 500));
  // Nothing there, all of it there, or more than the body (left by a longer one): start over.
  EXPECT_FALSE(MayResumePartial(record, kUrl, 0));
  EXPECT_FALSE(MayResumePartial(record, kUrl, 1000));
  EXPECT_FALSE(MayResumePartial(record, kUrl, 1000 + 4096));
  // Without a validator or a length nothing can vouch for the rest.
  EXPECT_FALSE(MayResumePartial({kUrl, u"", 1000}, kUrl, 500));
  EXPECT_FALSE(MayResumePartial({kUrl, u"\"a\"", 0}, kUrl, 500));

  // A retry within a run follows the same rule.
  EXPECT_TRUE(MayContinue(u"\"a\"", 500, 1000));
  EXPECT_FALSE(MayContinue(u"", 500, 1000));
  EXPECT_FALSE(MayContinue(u"\"a\"", 0, 1000));
  EXPECT_FALSE(MayContinue(u"\"a\"", 1000, 1000));
}

// The answer to "Range: bytes=400-" with If-Range "a" for a body of 1000 bytes.
TEST(RangeAnswers, OnlyTheExactRestOfTheSameBodyContinuesIt) {
  const RangeRequest asked{400, 1000, u"\"a\""};
  const auto judge = [&asked](std::uint32_t status, std::uint64_t length, std::u16string_view range,
                              std::u16string_view validator = u"\"a\"") {
    return JudgeRangeAnswer(asked, {status, length, range, validator});
  };
  EXPECT_EQ(judge(206, 600, u"bytes 400-999/1000"), RangeAnswer::kRest);
  // A server need not repeat the validator in a 206.
  EXPECT_EQ(judge(206, 600, u"bytes 400-999/1000", u""), RangeAnswer::kRest);

  // The range ignored, or the file changed since (If-Range failed): the whole body comes again.
  EXPECT_EQ(judge(200, 1000, u""), RangeAnswer::kWhole);
  EXPECT_EQ(judge(200, 1200, u"", u"\"b\""), RangeAnswer::kWhole);

  const std::u16string_view wrongRanges[] = {
      u"",                      // none (or none that reads)
      u"bytes 1400-1999/2000",  // another offset
      u"bytes 400-998/1000",    // not up to the end
      u"bytes 400-1199/1200",   // another total: another body
  };
  for (const auto range : wrongRanges) {
    EXPECT_EQ(judge(206, 600, range), RangeAnswer::kMismatch)
        << std::string(range.begin(), range.end());
  }
  // A length that disagrees with the range: the body would end short or run on.
  EXPECT_EQ(judge(206, 0, u"bytes 400-999/1000"), RangeAnswer::kMismatch);
  EXPECT_EQ(judge(206, 601, u"bytes 400-999/1000"), RangeAnswer::kMismatch);
  // Another version's bytes from a server that honours Range but not If-Range.
  EXPECT_EQ(judge(206, 600, u"bytes 400-999/1000", u"\"b\""), RangeAnswer::kMismatch);
  EXPECT_EQ(judge(206, 600, u"bytes 400-999/1000", u"W/\"a\""), RangeAnswer::kMismatch);

  // No range was asked for: whatever comes is the whole body.
  EXPECT_EQ(JudgeRangeAnswer({0, 0, u""}, {206, 600, u"bytes 400-999/1000", u""}),
            RangeAnswer::kWhole);
}

}  // namespace
}  // namespace sealupdate
