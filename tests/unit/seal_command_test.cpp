// Sealing: the cipher and the sealed block at the end of the client (the configuration read from
// a sealed client is checked end to end in decision_parity_test.cpp), and `seal` refusing the
// publisher's mistakes that would break clients in the field and warning about the likely ones.
#include <algorithm>
#include <filesystem>

#include "tool_fixture.h"
#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace sealupdate::tool {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) { return HexDecode(hex).value_or(Bytes()); }

Bytes Encipher(Bytes data, const Bytes& key, bool decipher = false) {
  const auto blocks = decipher ? DecipherBlocks : EncipherBlocks;
  blocks(data.data(), data.data(), key.data(), static_cast<std::uint32_t>(data.size()));
  return data;
}

const Bytes kKey = FromHex("0123456712345678234567893456789A");

// Published TEA vectors (big-endian words): the first block of the chain is plain TEA; later
// blocks chain as C1 = E(P1 ^ C0) ^ P0; a remainder stays as it is.
TEST(Tea, MatchesPublishedVectorsAndChainsInInfiniteGarbleExtensionMode) {
  const char* const vectors[][3] = {
      {"00000000000000000000000000000000", "0000000000000000", "41ea3a0a94baa940"},
      {"00000000000000000000000000000000", "0102030405060708", "6a2f9cf3fccf3c55"},
      {"0123456712345678234567893456789A", "0000000000000000", "34e943b0900f5dcb"},
      {"0123456712345678234567893456789A", "0102030405060708", "773dc179878a81c0"},
  };
  for (const auto& [key, plain, cipher] : vectors) {
    EXPECT_EQ(Encipher(FromHex(plain), FromHex(key)), FromHex(cipher)) << plain;
    EXPECT_EQ(Encipher(FromHex(cipher), FromHex(key), true), FromHex(plain)) << cipher;
  }
  Bytes plain(21, 0xEE), second(8);
  for (std::size_t i = 0; i < 16; ++i) plain[i] = static_cast<std::uint8_t>(i * 37 + 1);
  const Bytes cipher = Encipher(plain, kKey);
  for (std::size_t i = 0; i < 8; ++i) second[i] = plain[8 + i] ^ cipher[i];
  second = Encipher(second, kKey);
  for (std::size_t i = 0; i < 8; ++i) second[i] ^= plain[i];
  EXPECT_EQ(Bytes(cipher.begin() + 8, cipher.begin() + 16), second);
  EXPECT_EQ(Bytes(cipher.begin() + 16, cipher.end()), Bytes(5, 0xEE));
  EXPECT_EQ(Encipher(cipher, kKey, true), plain);
}

// A frame of n bytes with pad count p (the header's low bits) and the given content.
Bytes Frame(std::size_t n, std::uint8_t header, const Bytes& content) {
  Bytes frame(n, 0);
  frame[0] = header;
  for (std::size_t i = 1; i < 3u + (header & 7u); ++i) frame[i] = 0xA5;
  std::copy(content.begin(), content.end(), frame.begin() + 3 + (header & 7));
  return Encipher(frame, kKey);
}

TEST(Tea, FramesCheckTheirLengthPaddingAndKey) {
  const Bytes eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(DecipherBytes(Frame(24, 0xF3, eleven), kKey.data()), eleven);  // content at 6
  Bytes longKey = kKey;
  longKey.resize(32, 0x5A);  // key bytes from 16 on are ignored
  EXPECT_EQ(DecipherBytes(Frame(24, 0x03, eleven), longKey.data()), eleven);
  for (const Bytes& refused : {Frame(16, 0x06, {}), Frame(16, 0x07, {}), Bytes(8), Bytes(20),
                               Bytes(), Frame(24, 0x04, eleven)}) {
    EXPECT_TRUE(DecipherBytes(refused, kKey.data()).empty()) << refused.size();
  }

  std::uint8_t counter = 0;
  const auto random = [&counter] { return counter += 0x3B; };
  for (Bytes content; content.size() <= 40; content.push_back(std::uint8_t(content.size() + 1))) {
    const Bytes block = FrameAndEncipher(content, kKey.data(), random);
    // The smallest frame that fits: a multiple of 8, at least 16 bytes.
    EXPECT_EQ(block.size(), std::max<std::size_t>(16, (content.size() + 17) / 8 * 8));
    EXPECT_EQ(DecipherBytes(block, kKey.data()), content) << content.size();
  }
}

TEST(SealedBlock, LengthFieldAndTrailer) {
  const std::pair<std::string, std::int64_t> fields[] = {
      {"         F", 15}, {"       FFF", 4095},       {" \t1 2\n  ab", 0x12AB},
      {"        1G", 1},  {"  7FFFFFFF", 0x7FFFFFFF}, {"         0", 0},
      {"    garbage", 0}, {"  80000000", 0},          {"FFFFFFFFFF", 0},
  };
  for (const auto& [field, value] : fields) EXPECT_EQ(ParseLengthField(field), value) << field;
  EXPECT_EQ(MakeSealedTrailer(Bytes(16, 0xC0)),
            std::string(16, '\xC0') + "         F" + std::string(kSealTailLength, '\0'));
  EXPECT_EQ(MakeSealedTrailer(Bytes(4096)).substr(4096, 10), "       FFF");
}

// Wine's CNG imports any 04||X||Y without checking the curve; libcrypto and Windows do check.
bool ChecksCurve() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
#else
  return true;
#endif
}

TEST_F(Tool, SealRefusesWhatWouldBreakAClient) {
  for (const std::size_t at : {2, 43, 85}) {  // X's start, X's end, Y's end: still 04||X||Y
    std::string pub = Read("k1.pub");
    pub[at] = pub[at] == 'A' ? 'B' : 'A';
    Write("off" + std::to_string(at) + ".pub", pub);
  }
  Write("bad.pub", "BAAA\n");
  Write("nope.exe", "MZ" + std::string(3000, '\x90'));
  Write("tail.exe", MinimalPe() + std::string(16, 'x') + "         F" + std::string(826, 'x'));
  const std::string ok = "[UpdateInfo]\nUpdateURL=http://h/u.ini\n", app = ok + "AppId=a.b\n";
  ASSERT_EQ(Run("seal --public-key @k1.pub --config @config.ini @client.exe @pinned.exe").code +
                Run("seal --seal-key " + std::string(64, '7') +
                    " --config @config.ini @client.exe @foreign.exe")
                    .code,
            0);
  struct Row {
    std::string config, options, client;  // no config: its file is missing
    int code;
    std::string line;
  };
  const Row rows[] = {
      {app, "--public-key @off2.pub", "client", 1, "off2.pub holds no point on P-256"},
      {app, "--public-key @off43.pub", "client", 1, "off43.pub holds no point on P-256"},
      {app, "--public-key @off85.pub", "client", 1, "off85.pub holds no point on P-256"},
      {app + "PublicKey=" + Pub("k1") + "|" + Read("off43.pub").substr(0, 88), "", "client", 1,
       "PublicKey piece 2 (" + Read("off43.pub").substr(0, 16) + "...) is not a point on P-256"},
      {app + "PublicKey=" + Pub("k1") + "|nonsense", "", "client", 1,
       "PublicKey piece 2 (nonsense...) is no public key line"},
      {app, "--public-key @bad.pub", "client", 1, "bad.pub holds no public key line"},
      {ok, "", "pinned", 1, "pinned.exe pins key(s) this configuration would drop: " + Pub("k1")},
      {ok, "--unpin", "pinned", 0, ""},
      {app, "--public-key @k2.pub", "pinned", 0, ""},  // another key is no unpinning
      {ok, "", "foreign", 1, "foreign.exe carries a configuration sealed under another seal key"},
      {ok, "--replace-foreign-seal", "foreign", 0, "warning: replaced the configuration sealed"},
      {"[Update]\nUpdateURL=u\n", "", "client", 1, "no [UpdateInfo] section"},
      {"[UpdateInfo]\nUpdateURL= | \n", "", "client", 1, "no UpdateURL in [UpdateInfo]"},
      {ok + "UpdateMode=3\n", "", "client", 1, "UpdateMode=3 is not 0, 1 or 2"},
      {ok + "UpdateMode= 2 \n", "", "client", 0, ""},
      {ok + "AppId=my app\n", "", "client", 1, "AppId=my app may hold only ASCII letters"},
      {"[updateinfo]\nUpdateUrl=u\nUpdateTxt=x\n", "", "client", 0,  // names match in any case
       "warning: unknown key 'UpdateTxt' in [UpdateInfo]"},
      {ok, "--public-key @k1.pub", "client", 0, "warning: keys are pinned without an AppId"},
      {ok, "", "tail", 0, ""},  // a length field before no zero tail is no seal
      {ok, "", "nope", 1, "nope.exe is no whole Windows program image (PE)"},
      {ok, "", "missing", 2, "cannot read " + Path("missing.exe")},
      {ok, "--public-key @missing.pub", "client", 2, "cannot read " + Path("missing.pub")},
      {"", "", "client", 2, "cannot read " + Path("c.ini")},
  };
  for (const Row& row : rows) {
    if (!ChecksCurve() && row.line.find("P-256") != std::string::npos) continue;
    std::filesystem::remove(std::filesystem::u8path(Path("c.ini")));
    if (!row.config.empty()) Write("c.ini", row.config);
    const Result r =
        Run("seal --config @c.ini " + row.options + " @" + row.client + ".exe @out.exe");
    EXPECT_EQ(r.code, row.code) << row.line << "\n" << r.err;
    EXPECT_NE(r.err.find(row.line), std::string::npos) << r.err;
    EXPECT_EQ(PathExists(Utf8ToUtf16(Path("out.exe"))), row.code == 0) << row.line;
    std::filesystem::remove(std::filesystem::u8path(Path("out.exe")));
  }
}

}  // namespace
}  // namespace sealupdate::tool
