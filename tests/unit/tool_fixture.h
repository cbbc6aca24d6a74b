// The tool run in-process for its tests, and the fixtures of the version reader.
#pragma once

#include <gtest/gtest.h>

#include <sstream>

#include "base/encoding.h"
#include "base/text.h"
#include "commands.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "scratch.h"
#include "startup/seal_key.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace sealupdate::tool {

inline std::u16string FixturePath(std::u16string_view name) {
  return FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\" + std::u16string(name);
}

inline std::string FixtureBytes(std::u16string_view name) {
  return ReadWholeFile(FixturePath(name)).value_or("");
}

inline constexpr char kDocument[] =
    "[UpdateInfo]\nVersion=1.1.0.0\nDownloadURL=http://example.com/dl/setup.bin\n"
    "ModifySuffix=.exe\nsize=1\nNote=[a]\nMainExeName=en_app.exe\nSHA256=00\n\n[Other]\nKey=1\n"
    "[Signature]\nP256=old\n";

// A whole 64-bit PE image: headers up to data directory 4, one empty section, padding to 512.
inline std::string MinimalPe() {
  std::string pe(512, '\0');
  pe[0] = 'M', pe[1] = 'Z', pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  pe[0x40 + 4 + 2] = 1;                         // NumberOfSections
  pe[0x40 + 4 + 16] = static_cast<char>(0xF0);  // SizeOfOptionalHeader
  pe[0x58] = 0x0B, pe[0x59] = 0x02;             // PE32+
  pe[0x58 + 64] = 0x34, pe[0x58 + 65] = 0x12;   // CheckSum, stale on purpose
  pe[0x58 + 108] = 16;                          // NumberOfRvaAndSizes
  return pe;
}

struct Result {
  int code;
  std::string out, err;
};

// A scratch folder with two key pairs, a document, a package, a configuration and a client.
// Arguments are words split at blanks; "@name" is a file in the folder.
class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("config.ini", "[UpdateInfo]\nSoftName=x\nUpdateURL=http://127.0.0.1/u.ini\n");
    Write("client.exe", MinimalPe());
    Write("package.bin", FixtureBytes(u"en_app.exe"));
    Write("update.ini", kDocument);
    ASSERT_EQ(Run("keygen @k1").code + Run("keygen @k2").code, 0);
  }
  std::string folder_ = NativePath(ScratchFolder());
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(Utf8ToUtf16(Path(name)), bytes));
  }
  std::string Read(const std::string& name) const {
    return ReadWholeFile(Utf8ToUtf16(Path(name))).value_or("<missing>");
  }
  Result Run(const std::string& words) {
    std::vector<std::string> args;
    std::istringstream split(words);
    for (std::string w; split >> w;) args.push_back(w[0] == '@' ? Path(w.substr(1)) : w);
    std::ostringstream out, err;
    const int code = RunTool(args, out, err);
    return {code, out.str(), err.str()};
  }
  std::string SealedText(const std::string& file) {
    const auto block = ReadSealedBlock(Utf8ToUtf16(Path(file)), kSealTailLength);
    const auto content = DecipherBytes(block, BuildSealKey().data());
    EXPECT_EQ(Read(file), Read("client.exe") + MakeSealedTrailer(block));
    return std::string(content.begin(), content.end());
  }
  std::string Pub(const std::string& name) const { return Read(name + ".pub").substr(0, 88); }
  std::string Hash() { return HexEncode(Sha256Of(Read("package.bin"))->data(), 32); }
};

}  // namespace sealupdate::tool
