// The trust verdict on signed update documents, signed by the tool's signer: the signed bytes,
// pinned keys, expiry and the digest a pinned client needs.
#include <gtest/gtest.h>

#include "base/encoding.h"
#include "base/text.h"
#include "model/document_trust.h"
#include "signing.h"

namespace sealupdate::tool {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;  // 2027-01-15T08:00:00Z

constexpr char kBody[] =
    "[UpdateInfo]\r\nVersion=1.1.0.0\r\nDownloadURL=http://example.com/dl/setup.bin\r\n"
    "ModifySuffix=.exe\r\nSize=1999\r\nSHA256="
    "2d394db942e4bd9eb610bd7a17a06f560ca14db4a1c0af577068c61aff0367a9\r\n";

tool::KeyPair NewKey() {
  std::string problem;
  auto pair = tool::GenerateP256Key(problem);
  EXPECT_TRUE(pair) << problem;
  return pair.value_or(tool::KeyPair{});
}

std::string Signed(std::string_view body, const std::vector<const tool::KeyPair*>& keys) {
  std::string out = std::string(body) + "[Signature]\r\n", problem;
  for (const auto* key : keys) {
    const auto made = tool::SignP256(key->privatePem, body, problem);
    EXPECT_TRUE(made && made->publicKey == key->publicKey) << problem;
    if (made) out += "P256=" + Base64Encode(made->signature.data(), 64) + "\r\n";
  }
  return out;
}

TrustAnchors Pinned(const std::vector<const tool::KeyPair*>& keys) {
  std::u16string text;
  for (const auto* key : keys) text += FormatPublicKey(key->publicKey) + u"|";
  return ParsePublicKeys(text);
}

TEST(SignedDocument, SignsEverythingBeforeALineThatIsExactlySignature) {
  // Bytes, signed bytes and whether a section starts, split at "|": the first line, after any
  // line end, only the exact line, the first such line.
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

// An editor or a text-mode transfer may rewrite every line end: the signature holds over the
// text with CR LF line ends, signature lines included.
TEST(DocumentTrust, SignaturesSurviveLineEndConversion) {
  const tool::KeyPair key = NewKey();
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
  // LF CR is two line ends, not one.
  EXPECT_EQ(CrLfLineEnds("a\nb\rc\r\nd\n\re"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
}

// Signers, pinned keys: the verdict and the key that verified.
TEST(DocumentTrust, AnyPinnedKeyAndAnySignatureLineWillOverTheDigest) {
  const tool::KeyPair a = NewKey(), b = NewKey(), c = NewKey();
  using Keys = std::vector<const tool::KeyPair*>;
  const std::tuple<Keys, Keys, SignatureStatus, int> cases[] = {
      {{&b}, {&a, &b}, SignatureStatus::kValid, 1},  // rotation: the new key among the old
      {{&c, &b}, {&b}, SignatureStatus::kValid, 0},  // one line per key, any one verifies
      {{&a, &b}, {&c}, SignatureStatus::kInvalid, -1},
      {{}, {&a}, SignatureStatus::kMissing, -1},
  };
  for (const auto& [signers, pinned, status, keyIndex] : cases) {
    const DocumentVerdict verdict =
        CheckUpdateDocument(Signed(kBody, signers), Pinned(pinned), kNow);
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
       {Signed(bare, {&a}), Signed(bare, {&a}) + "[UpdateInfo]\r\nSize=1\r\n"}) {
    EXPECT_EQ(CheckUpdateDocument(signedBare, Pinned({&a}), kNow).refusal,
              DocumentRefusal::kDigestMissing);
  }
  EXPECT_TRUE(CheckUpdateDocument(bare, TrustAnchors{}, kNow).accepted());
}

TEST(DocumentTrust, ExpiresAtItsSecond) {
  const std::string body = std::string(kBody) + "Expires=2027-01-15T08:00:00Z\r\n";
  EXPECT_TRUE(CheckUpdateDocument(body, {}, kNow - 1).accepted());
  EXPECT_EQ(CheckUpdateDocument(body, {}, kNow).refusal, DocumentRefusal::kExpired);
  // Other forms refuse the document: no such date or time, a size beyond 64 bits, a field empty.
  for (const char* field : {"Expires=2027-13-01T00:00:00Z", "Expires=2027-00-10T00:00:00Z",
                            "Expires=2027-02-29T00:00:00Z", "Expires=2100-02-29T00:00:00Z",
                            "Expires=2027-01-00T00:00:00Z", "Expires=2027-01-01T24:00:00Z",
                            "Expires=2027-01-01T00:60:00Z", "Expires=2027-01-01T00:00:60Z",
                            "Size=18446744073709551616", "Size=", "sha256=   ", "Expires="}) {
    EXPECT_EQ(
        CheckUpdateDocument("[UpdateInfo]\r\nVersion=1\r\n" + std::string(field), {}, kNow).refusal,
        DocumentRefusal::kMalformedField)
        << field;
  }
  EXPECT_TRUE(CheckUpdateDocument("[UpdateInfo]\r\nVersion=1\r\nExpires=2028-02-29T23:59:59Z\r\n"
                                  "Size=18446744073709551615\r\n",
                                  {}, kNow)
                  .accepted());
}

}  // namespace
}  // namespace sealupdate::tool
