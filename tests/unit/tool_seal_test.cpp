#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "scratch.h"
#include "startup/seal_key.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace sealupdate::tool {
namespace {

struct Result {
  int code;
  std::string out, err;
};

Result RunArgs(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunTool(args, out, err);
  return {code, out.str(), err.str()};
}

class ToolSeal : public ::testing::Test {
 protected:
  std::string folder_ = NativePath(ScratchFolder());
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(Utf8ToUtf16(Path(name)), bytes));
  }
  std::string Read(const std::string& name) const {
    return ReadWholeFile(Utf8ToUtf16(Path(name))).value_or("<missing>");
  }
  void Remove(const std::string& name) const {
    std::error_code ignored;
    std::filesystem::remove(std::filesystem::u8path(Path(name)), ignored);
  }
  void SetUp() override {
    Write("client.exe", "MZ" + std::string(3000, '\x90'));
    Remove("out_中.exe");
  }
  Result Seal(const std::string& config, const std::string& client, const std::string& out,
              std::vector<std::string> options = {}) {
    Write("config.ini", config);
    options.insert(options.end(), {"--config", Path("config.ini"), Path(client), Path(out)});
    options.insert(options.begin(), "seal");
    return RunArgs(options);
  }
};

TEST_F(ToolSeal, SealsChineseTextTheClientCanReadAndShowsItBack) {
  const std::string config = "\xEF\xBB\xBF[UpdateInfo]\nSoftName=智能软件\r\nUpdateMode=1\n";
  const Result sealed = Seal(config, "client.exe", "out_中.exe", {"--codepage", "936"});
  ASSERT_EQ(sealed.code, 0) << sealed.err;
  EXPECT_EQ(sealed.err, "");

  // The client's view: default key, code page 936 (the default of show), CR LF line ends, the
  // image untouched.
  const std::u16string expected = u"[UpdateInfo]\r\nSoftName=智能软件\r\nUpdateMode=1\r\n";
  const std::string out = Read("out_中.exe");
  EXPECT_EQ(out.substr(0, 3002), Read("client.exe"));
  EXPECT_EQ(out.substr(out.size() - 826), std::string(826, '\0'));
  const auto block = ReadSealedBlock(Utf8ToUtf16(Path("out_中.exe")), kSealTailLength);
  EXPECT_EQ(out.size(), 3002 + block.size() + 836);
  const auto content = DecipherBytes(block, BuildSealKey().data());
  EXPECT_EQ(std::string(content.begin(), content.end()), Utf16ToCodePage(expected, 936));

  const Result shown = RunArgs({"show", Path("out_中.exe")});
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(shown.out, Utf16ToUtf8(expected));
}

TEST_F(ToolSeal, ResealingReplacesTheBlockInsteadOfStackingIt) {
  ASSERT_EQ(
      Seal("[UpdateInfo]\r\nSoftName=First, a rather long name\r\n", "client.exe", "out_中.exe")
          .code,
      0);
  // In place: OUT is CLIENT.
  const std::string second = "[UpdateInfo]\r\nSoftName=B\r\n";
  ASSERT_EQ(Seal(second, "out_中.exe", "out_中.exe").code, 0);
  const auto block = ReadSealedBlock(Utf8ToUtf16(Path("out_中.exe")), kSealTailLength);
  EXPECT_EQ(Read("out_中.exe").size(), 3002 + block.size() + 836);
  EXPECT_EQ(RunArgs({"show", Path("out_中.exe")}).out, second);

  // A block sealed under another key is not this key's seal: it stays, the new one goes after it.
  const std::string before = Read("out_中.exe");
  ASSERT_EQ(Seal(second, "out_中.exe", "out_中.exe", {"--key", std::string(64, '5')}).code, 0);
  EXPECT_EQ(Read("out_中.exe").substr(0, before.size()), before);
}

TEST_F(ToolSeal, ShowNeedsTheKeyTheClientWasSealedWith) {
  const std::string key = "00112233445566778899aabbccddeeff" + std::string(32, '7');
  ASSERT_EQ(Seal("[UpdateInfo]\r\n", "client.exe", "out_中.exe", {"--key", key}).code, 0);
  const std::string upper = "00112233445566778899AABBCCDDEEFF" + std::string(32, '7');
  EXPECT_EQ(RunArgs({"show", "--key", upper, Path("out_中.exe")}).out, "[UpdateInfo]\r\n");
  const Result wrongKey = RunArgs({"show", Path("out_中.exe")});
  EXPECT_EQ(wrongKey.code, 1);
  EXPECT_EQ(wrongKey.out, "");
  EXPECT_NE(wrongKey.err.find("does not decipher"), std::string::npos) << wrongKey.err;
  EXPECT_EQ(RunArgs({"show", Path("client.exe")}).code, 1);   // no block at all
  EXPECT_EQ(RunArgs({"show", Path("missing.exe")}).code, 1);  // no file
  EXPECT_EQ(RunArgs({"show", "-"}).code, 1);                  // "-" is a file name
}

TEST_F(ToolSeal, RefusesConfigurationsItCannotSealFaithfully) {
  // Characters outside the code page, named by their line and code point, wherever they stand.
  const std::pair<std::string, std::string> unmappables[] = {
      {"\xEF\xBD\x98\xF0\x9F\x98\x80\xEF\xBD\x98\n", "U+1F600"},
      {"\xF0\x90\x80\x80", "U+10000"},  // at the very end, without a line break
      {"\xF0\x90\x8F\xBF\n", "U+103FF"},
      {"\xEF\xBF\xBF\n", "U+FFFF"},
  };
  for (const auto& [utf8, named] : unmappables) {
    const Result unmappable =
        Seal("[UpdateInfo]\nSoftName=x\nUpdateText=" + utf8, "client.exe", "out_中.exe");
    EXPECT_EQ(unmappable.code, 1);
    EXPECT_NE(unmappable.err.find("line 3: character " + named + " "), std::string::npos)
        << unmappable.err;
  }

  const Result invalid =
      Seal("[UpdateInfo]\n\xFF\nSoftName=\xD6\xD0\n", "client.exe", "out_中.exe");
  EXPECT_EQ(invalid.code, 1);
  EXPECT_NE(invalid.err.find("line 2"), std::string::npos) << invalid.err;
  EXPECT_EQ(Read("out_中.exe"), "<missing>");
  EXPECT_EQ(Seal("[UpdateInfo]\n", "client.exe", "no-such-folder/out.exe").code, 1);
  EXPECT_EQ(Seal("[UpdateInfo]\n", "client.exe", "out_中.exe", {"--codepage", "65535"}).code, 1);

  // The same text is fine in a code page that holds it.
  EXPECT_EQ(
      Seal("SoftName=\xF0\x9F\x98\x80", "client.exe", "out_中.exe", {"--codepage", "65001"}).code,
      0);
}

TEST_F(ToolSeal, UsageErrorsExitWithTwo) {
  const std::string c = Path("config.ini"), in = Path("client.exe"), out = Path("out_中.exe");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"seal", in, out},
      {"seal", "--config", c, in},
      {"seal", "--config", c, "--key", "0123", in, out},
      {"seal", "--config", c, "--key", std::string(63, '0') + "g", in, out},
      {"seal", "--config", c, "--codepage", "gbk", in, out},
      {"seal", "--config", c, "--codepage", "0", in, out},
      {"seal", "--config", c, "--codepage", "65536", in, out},
      {"show"},
      {"show", in, out},
      {"show", "--config", c, in},
      {"show", in, "--key"},
      {"show", "-x"},
  };
  for (const auto& args : cases) {
    const Result r = RunArgs(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args.back());
    EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
  }
  for (const char* asking : {"--help", "-h", "help"}) {
    const Result help = RunArgs({asking});
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"--config", "--key", "--codepage"})
      EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace sealupdate::tool
