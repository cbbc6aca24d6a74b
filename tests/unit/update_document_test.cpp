// The update document a server sends, in any encoding and line ends, and answers that are none.
#include "model/update_document.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace sealupdate {
namespace {

std::string Utf16Bytes(std::u16string_view text, bool bigEndian = false) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  const int first = bigEndian ? 8 : 0;  // the shift of the unit's first byte
  for (const char16_t unit : text) bytes += {char(unit >> first), char(unit >> (8 - first))};
  return bytes;
}

TEST(UpdateDocument, ReadsEveryFieldWhateverTheEncodingAndLineEnds) {
  const std::u16string text =
      u"[UpdateInfo]\r\nVersion=2.1\r\nDownloadURL=http://a/x.bin|http://b/x.bin\r\n"
      u"MainExeName=主程序.exe\r\nKillExeName=helper.exe|tray.exe\r\nModifySuffix=.exe\r\n"
      u"HomeURL=http://home/\r\nUpdateText=修正{#br}若干问题\r\n";
  for (const std::string& bytes :
       {"\xEF\xBB\xBF" + Utf16ToUtf8(text),
        "\xEF\xBB\xBF" + Utf16ToUtf8(ReplaceAll(text, u"\r\n", u"\n")),
        "\xEF\xBB\xBF" + Utf16ToUtf8(ReplaceAll(text, u"\r\n", u"\r")), Utf16Bytes(text),
        Utf16Bytes(ReplaceAll(text, u"\r\n", u"\n"), true)}) {
    const auto d = ParseUpdateDocument(bytes);
    ASSERT_TRUE(d) << testing::PrintToString(bytes.substr(0, 24));
    EXPECT_EQ(Join(d->downloadUrls, u"|") + u";" + Join(d->mainExeNames, u"|") + u";" + d->version +
                  u";" + d->modifySuffix + u";" + d->homeUrl + u";" + d->updateText,
              u"http://a/x.bin|http://b/x.bin;主程序.exe|helper.exe|tray.exe;2.1;.exe;"
              u"http://home/;修正\r\n若干问题");
  }
#ifndef _WIN32  // the native build reads the ANSI code page as GBK
  EXPECT_EQ(DecodeUpdateDocument("\xD6\xD0\r\xD6\xD0"), u"中\r\n中");
#endif
  EXPECT_EQ(DecodeUpdateDocument("a\r\n\r\nb\n\rc"), u"a\r\n\r\nb\r\n\r\nc");
}

// gzip as it came, binary data, another section, no digit in the version (a page from a captive
// portal is refused in the flow test).
TEST(UpdateDocument, AnswersThatAreNoDocumentAreRefused) {
  for (const std::string& bytes :
       {std::string(), std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00[UpdateInfo]", 20),
        std::string(4096, '\xA7'), std::string("[UpdateInfo]\r\nVersion=latest\r\n"),
        Utf16Bytes(u"[Other]\r\nVersion=1\r\n")})
    EXPECT_FALSE(ParseUpdateDocument(bytes)) << testing::PrintToString(bytes.substr(0, 40));
  // The section name in any case; a blank text is no text; one digit is a version.
  const auto lower = ParseUpdateDocument("[updateinfo]\nversion=v0\nUpdateText=   \n");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->version + u"|" + lower->updateText, u"v0|");
  EXPECT_EQ(lower->downloadUrls, std::vector<std::u16string>{u""});
}

// Rollout is a whole percentage or the document is refused: a typo never opens a release to
// every machine, nor closes it to all.
TEST(UpdateDocument, RolloutIsAWholePercentage) {
  const auto read = [](const char* value) {
    const auto d = ParseUpdateDocument(std::string("[UpdateInfo]\nVersion=2\nRollout=") + value);
    return d->malformedField.empty() ? std::to_string(d->rollout.value_or(-1)) : "malformed";
  };
  const std::pair<const char*, const char*> cases[] = {
      {"0", "0"},           {"25", "25"},          {" 100 ", "100"},     {"007", "7"},
      {"101", "malformed"}, {"-1", "malformed"},   {"2.5", "malformed"}, {"", "malformed"},
      {"25%", "malformed"}, {"1000", "malformed"}, {"1e2", "malformed"},
  };
  for (const auto& [value, expected] : cases) EXPECT_EQ(read(value), expected) << value;
  EXPECT_FALSE(ParseUpdateDocument("[UpdateInfo]\nVersion=2\n")->rollout);  // text: the flow test
}

}  // namespace
}  // namespace sealupdate
