#include <gtest/gtest.h>

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
#include "tool_run.h"

namespace sealupdate::tool {
namespace {

class ToolSeal : public ToolFolder {
 protected:
  void SetUp() override { Write("client.exe", "MZ" + std::string(3000, '\x90')); }
  Result Seal(const std::string& config, std::vector<std::string> options = {},
              const std::string& client = "client.exe", const std::string& out = "out_中.exe") {
    Write("config.ini", config);
    options.insert(options.end(), {"--config", Path("config.ini"), Path(client), Path(out)});
    options.insert(options.begin(), "seal");
    return RunArgs(options);
  }
};

// The client's view: default key, code page 936 (the default of show), CR LF line ends, the
// image untouched; resealing replaces this key's block, one of another key stays in front.
TEST_F(ToolSeal, SealsWhatTheClientCanReadAndReplacesItsOwnSeal) {
  const std::string config = "\xEF\xBB\xBF[UpdateInfo]\nSoftName=智能软件\r\nUpdateMode=1\n";
  const Result sealed = Seal(config, {"--codepage", "936"});
  ASSERT_EQ(sealed.code, 0) << sealed.err;
  EXPECT_EQ(sealed.err, "");
  const std::u16string expected = u"[UpdateInfo]\r\nSoftName=智能软件\r\nUpdateMode=1\r\n";
  const auto block = ReadSealedBlock(Utf8ToUtf16(Path("out_中.exe")), kSealTailLength);
  const auto content = DecipherBytes(block, BuildSealKey().data());
  EXPECT_EQ(std::string(content.begin(), content.end()), Utf16ToCodePage(expected, 936));
  EXPECT_EQ(Read("out_中.exe"), Read("client.exe") + MakeSealedTrailer(block));
  const Result shown = RunArgs({"show", Path("out_中.exe")});
  EXPECT_EQ(shown.code, 0) << shown.err;
  EXPECT_EQ(shown.out, Utf16ToUtf8(expected));

  const std::string second = "[UpdateInfo]\r\nSoftName=B\r\n";  // in place: OUT is CLIENT
  ASSERT_EQ(Seal(second, {}, "out_中.exe").code, 0);
  const auto block2 = ReadSealedBlock(Utf8ToUtf16(Path("out_中.exe")), kSealTailLength);
  EXPECT_EQ(Read("out_中.exe"), Read("client.exe") + MakeSealedTrailer(block2));
  const std::string before = Read("out_中.exe");
  const std::string key = "00112233445566778899aabbccddeeff" + std::string(32, '7');
  ASSERT_EQ(Seal(second, {"--key", key}, "out_中.exe").code, 0);
  EXPECT_EQ(Read("out_中.exe").substr(0, before.size()), before);
  const std::string upper = "00112233445566778899AABBCCDDEEFF" + std::string(32, '7');
  EXPECT_EQ(RunArgs({"show", "--key", upper, Path("out_中.exe")}).out, second);
}

TEST_F(ToolSeal, FailuresAndUsageErrors) {
  Write("other.exe",
        "MZ" + std::string(3000, 'x') + MakeSealedTrailer(std::vector<std::uint8_t>(16, 1)));
  const std::string c = Path("config.ini"), in = Path("client.exe"), out = Path("out_中.exe");
  // Exit 1 names the fault: characters outside the code page by their line and code point,
  // wherever they stand; text that is no UTF-8 by its line; a wrong key; no block; no file.
  const std::pair<Result, std::string> failed[] = {
      {Seal("[UpdateInfo]\nSoftName=x\nUpdateText=\xEF\xBD\x98\xF0\x9F\x98\x80\xEF\xBD\x98\n"),
       "line 3: character U+1F600 "},
      {Seal("\n\n\xF0\x90\x80\x80"), "line 3: character U+10000 "},
      {Seal("\n\n\xF0\x90\x8F\xBF\n"), "line 3: character U+103FF "},
      {Seal("\n\n\xEF\xBF\xBF\n"), "line 3: character U+FFFF "},
      {Seal("\n\xF4\x8F\xBF\xBF"), "line 2: character U+10FFFF "},
      {Seal("\n\xF3\xBF\xBF\xBF"), "line 2: character U+FFFFF "},
      {Seal("[UpdateInfo]\n\xFF\nSoftName=\xD6\xD0\n"), "line 2"},
      {Seal(""), "empty"},
      {Seal("x", {}, "missing.exe"), "cannot read"},
      {Seal("x", {}, "client.exe", "no-such-folder/out.exe"), "out.exe"},
      {Seal("x", {"--codepage", "65535"}), "not available"},
      {RunArgs({"show", Path("other.exe")}), "does not decipher"},
      {RunArgs({"show", in}), "carries no sealed configuration"},
      {RunArgs({"show", Path("missing.exe")}), "cannot read"},
      {RunArgs({"show", "-"}), "cannot read"},  // "-" is a file name
  };
  for (const auto& [r, named] : failed) {
    EXPECT_EQ(r.code, 1) << named;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
  }
  EXPECT_EQ(Read("out_中.exe"), "<missing>");
  // The same text is fine in a code page that holds it.
  EXPECT_EQ(Seal("SoftName=\xF0\x9F\x98\x80", {"--codepage", "65001"}).code, 0);

  const std::vector<std::string> usage[] = {
      {},
      {"frobnicate"},
      {"seal", in, out},
      {"seal", "--config", c, in},
      {"seal", "--config", c, "--key", "0123", in, out},
      {"seal", "--config", c, "--key", std::string(63, '0') + "g", in, out},
      {"seal", "--config", c, "--codepage", "gbk", in, out},
      {"seal", "--config", c, "--codepage", "0", in, out},
      {"seal", "--config", c, "--codepage", "65536", in, out},
      {"show", in, out},
      {"show", "--config", c, in},
      {"show", in, "--key"},
      {"show", "-x"},
  };
  for (const auto& args : usage) {
    const Result r = RunArgs(args);
    EXPECT_EQ(r.code, 2) << (args.empty() ? "" : args.back());
    EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
  }
  for (const char* asking : {"--help", "-h", "help"}) {
    const Result help = RunArgs({asking});
    EXPECT_EQ(help.code, 0);
    for (const char* option : {"--config", "--key", "--codepage"}) {
      EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
  }
}

}  // namespace
}  // namespace sealupdate::tool
