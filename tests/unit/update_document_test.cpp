#include "model/update_document.h"

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace sealupdate {
namespace {

std::string Utf16Le(std::u16string_view text, bool bigEndian = false) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

constexpr char16_t kDocument[] =
    u"[UpdateInfo]\r\nVersion=2.1\r\nDownloadURL=http://a/x.bin|http://b/x.bin\r\n"
    u"MainExeName=主程序.exe\r\nKillExeName=helper.exe|tray.exe\r\nModifySuffix=.exe\r\n"
    u"HomeURL=http://home/\r\nUpdateText=修正{#br}若干问题\r\n";

TEST(UpdateDocument, ReadsEveryFieldWhateverTheEncodingAndLineEnds) {
  const std::string utf8 = Utf16ToUtf8(kDocument);
  const std::string encodings[] = {
      "\xEF\xBB\xBF" + utf8,
      "\xEF\xBB\xBF" + Utf16ToUtf8(ReplaceAll(kDocument, u"\r\n", u"\n")),
      "\xEF\xBB\xBF" + Utf16ToUtf8(ReplaceAll(kDocument, u"\r\n", u"\r")),
      Utf16Le(kDocument),
      Utf16Le(ReplaceAll(kDocument, u"\r\n", u"\n"), true),
  };
  for (const std::string& bytes : encodings) {
    SCOPED_TRACE(testing::PrintToString(bytes.substr(0, 24)));
    const auto document = ParseUpdateDocument(bytes);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->version, u"2.1");
    EXPECT_EQ(document->downloadUrls,
              (std::vector<std::u16string>{u"http://a/x.bin", u"http://b/x.bin"}));
    EXPECT_EQ(document->mainExeNames,
              (std::vector<std::u16string>{u"主程序.exe", u"helper.exe", u"tray.exe"}));
    EXPECT_EQ(document->modifySuffix, u".exe");
    EXPECT_EQ(document->homeUrl, u"http://home/");
    EXPECT_EQ(document->updateText, u"修正\r\n若干问题");
  }
}

TEST(UpdateDocument, AnswersThatAreNoDocumentAreRefused) {
  const std::string refused[] = {
      "",
      "<!DOCTYPE html><html><body>[UpdateInfo] moved</body></html>",
      std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00", 8) + "[UpdateInfo]",  // gzip as it came
      std::string(4096, '\xA7'),
      "[Other]\r\nVersion=2.0\r\n",
      "[UpdateInfo]\r\nDownloadURL=http://a/x.bin\r\n",
      "[UpdateInfo]\r\nVersion=\r\n",
      "[UpdateInfo]\r\nVersion=latest\r\n",
      Utf16Le(u"[Other]\r\nVersion=1\r\n"),
  };
  for (const std::string& bytes : refused) {
    EXPECT_FALSE(ParseUpdateDocument(bytes)) << testing::PrintToString(bytes.substr(0, 40));
  }
  // The section name is matched without regard to case; a blank text is no text.
  const auto lower = ParseUpdateDocument("[updateinfo]\nversion=1.0.0.1\nUpdateText=   \n");
  ASSERT_TRUE(lower);
  EXPECT_EQ(lower->version, u"1.0.0.1");
  EXPECT_EQ(lower->updateText, u"");
  EXPECT_TRUE(lower->downloadUrls == std::vector<std::u16string>{u""});
}

TEST(UpdateDocument, DecodesTheAnsiCodePageWithoutAMark) {
#ifndef _WIN32  // the native build reads the ANSI code page as GBK
  EXPECT_EQ(DecodeUpdateDocument("\xD6\xD0\r\xD6\xD0"), u"中\r\n中");
#endif
  EXPECT_EQ(DecodeUpdateDocument("a\r\n\r\nb\n\rc"), u"a\r\n\r\nb\r\n\r\nc");
}

}  // namespace
}  // namespace sealupdate
