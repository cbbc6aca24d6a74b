#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

// "中文" in GBK.
const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";

TEST(CodePage, ConvertsGbkBothWays) {
  EXPECT_EQ(CodePageToUtf16(kGbkChinese, 936), u"中文");
  EXPECT_EQ(Utf16ToCodePage(u"中文 ok", 936), kGbkChinese + " ok");
  EXPECT_EQ(CodePageToUtf16("", 936), u"");
}

TEST(CodePage, StrictConversionsRefuseWhatTheCodePageCannotHold) {
  EXPECT_FALSE(Utf16ToCodePage(u"\u00e9\u4e2d", 1252).has_value());
  EXPECT_FALSE(Utf16ToCodePage(u"\U0001F600", 936).has_value());
  EXPECT_FALSE(CodePageToUtf16("\xD6", 936).has_value());  // a lead byte without its trail
  EXPECT_FALSE(Utf16ToCodePage(u"x", 4242424).has_value());
}

TEST(CodePage, Utf8CodePageRoundTrips) {
  EXPECT_EQ(Utf16ToCodePage(u"智能\U0001F600", 65001), Utf16ToUtf8(u"智能\U0001F600"));
  EXPECT_FALSE(Utf16ToCodePage(std::u16string(1, char16_t(0xDC00)), 65001).has_value());
  EXPECT_EQ(CodePageToUtf16(Utf16ToUtf8(u"智能"), 65001), u"智能");
}

#ifndef _WIN32
// Natively the ANSI code page is 936; on Windows it is whatever the system uses.
TEST(CodePage, AnsiIsGbkNativelyAndLenient) {
  EXPECT_EQ(AnsiToUtf16(kGbkChinese), u"中文");
  EXPECT_EQ(Utf16ToAnsi(u"中文"), kGbkChinese);
  EXPECT_EQ(Utf16ToAnsi(u"a\U0001F600b"), "a?b");
  EXPECT_EQ(AnsiToUtf16("a\xD6"), u"a\uFFFD");
}
#endif

TEST(Files, WritesReadsAndReadsAtOffsets) {
  const std::u16string path = FolderOf(GetOwnExePath()) + u"\\files_test_中.bin";
  ASSERT_TRUE(WriteWholeFile(path, std::string("0123456789", 10)));
  EXPECT_TRUE(PathExists(path));
  EXPECT_EQ(ReadWholeFile(path), "0123456789");
  auto file = InputFile::Open(path);
  ASSERT_TRUE(file.has_value());
  EXPECT_EQ(file->Size(), 10u);
  char buf[4] = {};
  EXPECT_TRUE(file->ReadAt(6, buf, 4));
  EXPECT_EQ(std::string(buf, 4), "6789");
  EXPECT_FALSE(file->ReadAt(7, buf, 4));
  EXPECT_FALSE(file->ReadAt(~0ull, buf, 1));
  ASSERT_TRUE(WriteWholeFile(path, ""));
  EXPECT_EQ(ReadWholeFile(path), "");
}

TEST(Files, MissingFilesAndPathParts) {
  EXPECT_FALSE(InputFile::Open(u"no-such-folder\\no-such-file").has_value());
  EXPECT_FALSE(ReadWholeFile(u"no-such-folder\\no-such-file").has_value());
  EXPECT_FALSE(WriteWholeFile(u"no-such-folder\\x", "x"));
  EXPECT_FALSE(GetOwnExePath().empty());
  EXPECT_EQ(FolderOf(u"C:\\a\\b.exe"), u"C:\\a");
  EXPECT_EQ(FileNameOf(u"C:\\a\\b.exe"), u"b.exe");
  EXPECT_EQ(FileNameOf(u"b.exe"), u"b.exe");
}

}  // namespace
}  // namespace sealupdate
