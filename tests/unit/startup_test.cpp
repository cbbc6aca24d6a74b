#include "startup/startup.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "fake_process_table.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "scratch.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"
#include "window/layout.h"

namespace sealupdate {
namespace {

TEST(Startup, SettlesTheModeFromTheCommandLineOrTheConfiguration) {
  struct Case {
    const char16_t* commandLine;
    const char16_t* configured;
    std::int32_t mode;
  };
  const Case cases[] = {
      {u"  1  ", u"0", 1}, {u"7", u"0", 2},    {u"-3", u"2", 0},    {u"now", u"2", 0},
      {u"1.5", u"0", 2},   {u"2.5", u"0", 2},  {u"0.5", u"2", 0},   {u"   ", u"2", 2},
      {u"", u"1", 1},      {u"", u"", 0},      {u"", u"x", 0},      {u"1 2", u"0", 2},
      {u"&H1", u"0", 1},   {u"1e10", u"0", 2}, {u"-1e10", u"2", 0}, {u"", u"99999999999", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SettleUpdateMode(c.commandLine, c.configured), c.mode)
        << "command line '" << Utf16ToUtf8(c.commandLine) << "'";
  }
}

class StartupFile : public ::testing::Test {
 protected:
  std::u16string folder = ScratchFolder();
  std::u16string path = folder + u"\\startup_test_client.exe";
  FakeProcessTable processes;
  SealKey key = BuildSealKey();

  void WriteClient(const std::string& tail) {
    ASSERT_TRUE(WriteWholeFile(path, std::string(5000, 'M') + tail));
  }
  void WriteSealed(std::u16string_view configuration) {
    const std::string ansi = Utf16ToAnsi(configuration);
    std::uint8_t next = 0;
    const auto block = FrameAndEncipher(std::vector<std::uint8_t>(ansi.begin(), ansi.end()),
                                        key.data(), [&] { return next++; });
    WriteClient(MakeSealedTrailer(block));
  }
  StartupState Load(std::u16string_view commandLine) {
    return LoadStartupState(path, commandLine, key,
                            std::make_unique<UpdateRecord>(folder, processes));
  }
};

TEST_F(StartupFile, FillsTheRecordFromTheSealedConfiguration) {
  WriteSealed(
      u"[UpdateInfo]\r\nSoftName=示例程序\r\nHomeURL=http://example.test/\r\n"
      u"UpdateURL=  a.test/u.ini | |https://b.test/u.ini|\r\nUpdateText=第一行{#br}第二行\r\n"
      u"UpdateMode=1\r\n");
  const StartupState state = Load(u"");
  ASSERT_TRUE(state.info);
  EXPECT_EQ(state.info->SoftName(), u"示例程序");
  EXPECT_EQ(state.info->HomeURL(), u"http://example.test/");
  ASSERT_EQ(state.info->LastUpdateURLIndex(), 1);
  state.info->SetUpdateURLIndex(0);
  EXPECT_EQ(state.info->UpdateURL(), u"http://a.test/u.ini");
  state.info->SetUpdateURLIndex(1);
  EXPECT_EQ(state.info->UpdateURL(), u"https://b.test/u.ini");
  EXPECT_EQ(state.info->UpdateText(), u"第一行\r\n第二行");
  EXPECT_EQ(state.mode, 1);
  EXPECT_EQ(state.info->UpdateMode(), 1);
  EXPECT_EQ(Load(u" 2 ").mode, 2);
  EXPECT_EQ(Load(u"x").mode, 0);
}

TEST_F(StartupFile, AnythingWrongGivesAnEmptyConfiguration) {
  const std::string noBlock(836, '\0');
  std::string tooLarge = "     FFFFF" + std::string(826, '\0');
  for (const std::string& tail : {noBlock, tooLarge}) {
    WriteClient(tail);
    const StartupState state = Load(u"");
    EXPECT_EQ(state.info->SoftName(), u"");
    EXPECT_EQ(state.info->LastUpdateURLIndex(), -1);
    EXPECT_EQ(state.mode, 0);
  }
  // Sealed with another key: deciphers to garbage, which is refused.
  WriteSealed(u"[UpdateInfo]\r\nSoftName=x\r\nUpdateMode=2\r\n");
  key[0] ^= 1;
  EXPECT_EQ(Load(u"").info->SoftName(), u"");
  path = folder + u"\\no_such_client.exe";
  EXPECT_EQ(Load(u"1").mode, 1);
}

TEST(Layout, TitleAndTwips) {
  EXPECT_EQ(MainWindowTitle(u""), u"智能更新程序");
  EXPECT_EQ(MainWindowTitle(u"甲"), u"甲 - 智能更新程序");
  EXPECT_EQ(TwipsToPixels(6255, 96), 417);   // 417.0
  EXPECT_EQ(TwipsToPixels(6255, 144), 626);  // 625.5 rounds up
  EXPECT_EQ(TwipsToPixels(-10000, 96), -667);
  EXPECT_EQ(FontHeightPixels(825, 96), -11);
}

}  // namespace
}  // namespace sealupdate
