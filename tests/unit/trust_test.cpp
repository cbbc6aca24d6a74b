// Verdicts on documents the tool's signer signed; the cipher and the sealed block (a sealed client
// end to end: decision_parity_test.cpp); `seal` refusing what breaks clients, warning of slips.
#include "model/document_trust.h"
#include "signing.h"
#include "tool_fixture.h"
#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace sealupdate::tool {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;  // 2027-01-15T08:00:00Z

constexpr char kBody[] =
    "[UpdateInfo]\r\nVersion=1.1.0.0\r\nDownloadURL=http://example.com/dl/setup.bin\r\n"
    "ModifySuffix=.exe\r\nSize=1999\r\nSHA256="
    "2d394db942e4bd9eb610bd7a17a06f560ca14db4a1c0af577068c61aff0367a9\r\n";

KeyPair NewKey() {
  std::string problem;
  auto pair = GenerateP256Key(problem);
  EXPECT_TRUE(pair) << problem;
  return pair.value_or(KeyPair{});
}

std::string Signed(std::string_view body, const std::vector<const KeyPair*>& keys) {
  std::string out = std::string(body) + "[Signature]\r\n", problem;
  for (const auto* key : keys) {
    const auto made = SignP256(key->privatePem, body, problem);
    EXPECT_TRUE(made && made->publicKey == key->publicKey) << problem;
    if (made) out += "P256=" + Base64Encode(made->signature.data(), 64) + "\r\n";
  }
  return out;
}

TrustAnchors Pinned(const std::vector<const KeyPair*>& keys) {
  std::u16string text;
  for (const auto* key : keys) text += FormatPublicKey(key->publicKey) + u"|";
  return ParsePublicKeys(text);
}

TEST(SignedDocument, SignsEverythingBeforeALineThatIsExactlySignature) {
  // Bytes, signed bytes, whether a section starts ("|"-split): only the exact line, the first.
  for (const char* c :
       {"A\r\n[Signature]\r\nP256=x\r\n|A\r\n|1", "[Signature]\r\n||1", "A\r\n[Signature]|A\r\n|1",
        "A\n[Signature]\r\n|A\n|1", "A\r[Signature]\r|A\r|1", "A[Signature]\r\n|A[Signature]\r\n|0",
        "A\r\n[Signature] \r\n|A\r\n[Signature] \r\n|0",
        "A\r\n[signature]\r\n|A\r\n[signature]\r\n|0",
        "A\r\nx[Signature]\r\n[Signature]\r\n|A\r\nx[Signature]\r\n|1"}) {
    const std::string all(c), bytes = all.substr(0, all.find('|')),
                              rest = all.substr(bytes.size() + 1);
    const SignedDocument split = SplitSignedDocument(bytes);
    EXPECT_EQ(std::string(split.signedBytes) + (split.hasSignatureSection ? "|1" : "|0"), rest)
        << bytes;
  }
}

// An editor or a text-mode transfer may rewrite line ends: the signature is over CR LF text.
TEST(DocumentTrust, SignaturesSurviveLineEndConversion) {
  const KeyPair key = NewKey();
  const std::string crlf = Signed(kBody, {&key});
  const std::u16string wide = Utf8ToUtf16(crlf);
  for (const char16_t* end : {u"\n", u"\r", u"\r\n"}) {
    const std::string converted = Utf16ToUtf8(ReplaceAll(wide, u"\r\n", end));
    EXPECT_TRUE(CheckUpdateDocument(converted, Pinned({&key}), kNow).accepted())
        << testing::PrintToString(end);
  }
  // Signed over LF-only bytes (as an older signer did): the bytes as they are still verify.
  const std::string lf = Utf16ToUtf8(ReplaceAll(Utf8ToUtf16(kBody), u"\r\n", u"\n"));
  EXPECT_TRUE(CheckUpdateDocument(Signed(lf, {&key}), Pinned({&key}), kNow).accepted());
  EXPECT_EQ(CrLfLineEnds("a\nb\rc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");  // LF CR: two ends
}

// Signers, pinned keys: the verdict and the key that verified.
TEST(DocumentTrust, AnyPinnedKeyAndAnySignatureLineWillOverTheDigest) {
  const KeyPair a = NewKey(), b = NewKey(), c = NewKey();
  using Keys = std::vector<const KeyPair*>;
  const std::tuple<Keys, Keys, SignatureStatus, int> cases[] = {
      {{&b}, {&a, &b}, SignatureStatus::kValid, 1},  // rotation: the new key among the old
      {{&c, &b}, {&b}, SignatureStatus::kValid, 0},  // one line per key, any one verifies
      {{&a, &b}, {&c}, SignatureStatus::kInvalid, -1},
      {{}, {&a}, SignatureStatus::kMissing, -1},
  };
  for (const auto& [signers, pinned, status, keyIndex] : cases) {
    const auto verdict = CheckUpdateDocument(Signed(kBody, signers), Pinned(pinned), kNow);
    EXPECT_EQ(verdict.signature, status) << signers.size() << " " << pinned.size();
    EXPECT_EQ(verdict.keyIndex, keyIndex);
    EXPECT_EQ(verdict.accepted(), status == SignatureStatus::kValid);
  }
  // Another document's signature line does not verify this one, nor a body with a byte changed.
  const std::string other = Signed("[UpdateInfo]\r\nVersion=9\r\n", {&a});
  const std::string spliced = std::string(kBody) + other.substr(other.find("[Signature]"));
  EXPECT_EQ(CheckUpdateDocument(spliced, Pinned({&a}), kNow).signature, SignatureStatus::kInvalid);
  const std::string document = Signed(kBody, {&a});
  EXPECT_TRUE(CheckUpdateDocument(document, Pinned({&a}), kNow).accepted());
  for (std::size_t i = 0; i < std::string_view(kBody).size(); ++i) {
    std::string changed = document;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_FALSE(CheckUpdateDocument(changed, Pinned({&a}), kNow).accepted()) << i;
  }
  // Pinned keys need the digest above the signature line: nothing after it is read.
  const std::string bare = "[UpdateInfo]\r\nVersion=1.1\r\n";
  for (const std::string& signedBare :
       {Signed(bare, {&a}), Signed(bare, {&a}) + "[UpdateInfo]\r\nSize=1\r\n"})
    EXPECT_EQ(CheckUpdateDocument(signedBare, Pinned({&a}), kNow).refusal,
              DocumentRefusal::kDigestMissing);
  EXPECT_TRUE(CheckUpdateDocument(bare, TrustAnchors{}, kNow).accepted());
}

TEST(DocumentTrust, ExpiresAtItsSecond) {
  const std::string body = std::string(kBody) + "Expires=2027-01-15T08:00:00Z\r\n";
  EXPECT_TRUE(CheckUpdateDocument(body, {}, kNow - 1).accepted());
  EXPECT_EQ(CheckUpdateDocument(body, {}, kNow).refusal, DocumentRefusal::kExpired);
  // Other forms refuse the document: no such date or time, a size beyond 64 bits, a field empty.
  const std::string v1 = "[UpdateInfo]\r\nVersion=1\r\n";
  for (const char* field : {"Expires=2027-13-01T00:00:00Z", "Expires=2027-00-10T00:00:00Z",
                            "Expires=2027-02-29T00:00:00Z", "Expires=2100-02-29T00:00:00Z",
                            "Expires=2027-01-00T00:00:00Z", "Expires=2027-01-01T24:00:00Z",
                            "Expires=2027-01-01T00:60:00Z", "Expires=2027-01-01T00:00:60Z",
                            "Size=18446744073709551616", "Size=", "sha256=   ", "Expires="})
    EXPECT_EQ(CheckUpdateDocument(v1 + field, {}, kNow).refusal, DocumentRefusal::kMalformedField)
        << field;
  EXPECT_TRUE(CheckUpdateDocument(
                  v1 + "Expires=2028-02-29T23:59:59Z\r\nSize=18446744073709551615\r\n", {}, kNow)
                  .accepted());
  // Worked out with Python's calendar.timegm: February, a leap day, a century, year 0.
  const std::pair<const char16_t*, std::int64_t> instants[] = {
      {u"1970-01-01T00:00:00Z", 0},          {u"2027-02-15T08:30:00Z", 1802680200},
      {u"2024-02-29T12:00:00Z", 1709208000}, {u"2000-03-01T00:00:00Z", 951868800},
      {u"2100-12-31T23:59:59Z", 4133980799}, {u"0000-01-01T00:00:00Z", -62167219200}};
  for (const auto& [text, seconds] : instants) EXPECT_EQ(ParseUtcTime(text), seconds);
}

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
                               Bytes(), Frame(24, 0x04, eleven)})
    EXPECT_TRUE(DecipherBytes(refused, kKey.data()).empty()) << refused.size();

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
#ifdef _WIN32
const bool kChecksCurve = !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
#else
const bool kChecksCurve = true;
#endif

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
  ASSERT_EQ(Run("seal --public-key @k1.pub --config @config.ini @client.exe @pinned.exe").code, 0);
  const std::string sealKey = "--seal-key " + std::string(64, '7');
  ASSERT_EQ(Run("seal " + sealKey + " --config @config.ini @client.exe @foreign.exe").code, 0);
  // Configuration ("-": its file is missing), options, client, exit code, line on stderr.
  const std::tuple<std::string, std::string, std::string, int, std::string> rows[] = {
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
      {"-", "", "client", 2, "cannot read " + Path("c.ini")},
      {"", "", "client", 1, "empty"},
      // Text outside the code page by its line and code point, wherever it stands; no UTF-8.
      {"[UpdateInfo]\nSoftName=x\nUpdateText=\xEF\xBD\x98\xF0\x9F\x98\x80\xEF\xBD\x98\n", "",
       "client", 1, "line 3: character U+1F600 "},
      {"\n\n\xF0\x90\x80\x80", "", "client", 1, "line 3: character U+10000 "},
      {"\n\xF4\x8F\xBF\xBF", "", "client", 1, "line 2: character U+10FFFF "},
      {"[UpdateInfo]\n\xFF\nSoftName=\xD6\xD0\n", "", "client", 1, "line 2"},
      {"[UpdateInfo]\nUpdateURL=\xF0\x9F\x98\x80", "--codepage 65001", "client", 0, ""},
      {ok, "--codepage 65535", "client", 1, "not available"},
  };
  for (const auto& [config, options, client, code, line] : rows) {
    if (!kChecksCurve && line.find("P-256") != std::string::npos) continue;
    std::filesystem::remove(std::filesystem::u8path(Path("c.ini")));
    if (config != "-") Write("c.ini", config);
    const Result r = Run("seal --config @c.ini " + options + " @" + client + ".exe @out.exe");
    EXPECT_EQ(r.code, code) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    EXPECT_EQ(PathExists(Utf8ToUtf16(Path("out.exe"))), code == 0) << line;
    std::filesystem::remove(std::filesystem::u8path(Path("out.exe")));
  }
}

}  // namespace
}  // namespace sealupdate::tool
