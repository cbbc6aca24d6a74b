#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "model/document_trust.h"
#include "signing.h"

namespace sealupdate {
namespace {

constexpr std::int64_t kNow = 1'800'000'000;  // 2027-01-15T08:00:00Z

constexpr char kDocument[] =
    "[UpdateInfo]\r\nVersion=1.1.0.0\r\nDownloadURL=http://example.com/dl/setup.bin\r\n"
    "ModifySuffix=.exe\r\nSize=1000\r\nSHA256="
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

TEST(Base64, EncodesAndDecodesOnlyCanonicalText) {
  for (const auto& [bytes, text] : {std::pair<std::string, std::string>{"", ""},
                                    {"f", "Zg=="},
                                    {"fo", "Zm8="},
                                    {"foo", "Zm9v"},
                                    {"\xFF\xFE\xFD", "//79"}}) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    EXPECT_EQ(Base64Encode(data, bytes.size()), text);
    EXPECT_EQ(Base64Decode(text), std::vector<std::uint8_t>(data, data + bytes.size()));
  }
  for (const char* bad : {"Zg", "Zg=", "Zh==", "Zm9=", "Z===", "Zg==Zg==", "Zm 9v", "Zm9v\n",
                          "Zm-v", "=Zg=", "Zm9v===="}) {
    EXPECT_FALSE(Base64Decode(bad)) << bad;
  }
}

TEST(SignedDocument, SignsEverythingBeforeALineThatIsExactlySignature) {
  const std::tuple<std::string, std::string, bool> cases[] = {
      // bytes, signed bytes, section
      {"A\r\n[Signature]\r\nP256=x\r\n", "A\r\n", true},
      {"[Signature]\r\n", "", true},  // the first line
      {"A\r\n[Signature]", "A\r\n", true},
      {"A\n[Signature]\r\n", "A\n[Signature]\r\n", false},  // only after CR LF
      {"A\r\n[Signature] \r\n", "A\r\n[Signature] \r\n", false},
      {"A\r\n[signature]\r\n", "A\r\n[signature]\r\n", false},
      {"A\r\nx[Signature]\r\n[Signature]\r\n", "A\r\nx[Signature]\r\n", true},
  };
  for (const auto& [bytes, signedBytes, hasSection] : cases) {
    const SignedDocument split = SplitSignedDocument(bytes);
    EXPECT_EQ(split.signedBytes, signedBytes) << bytes;
    EXPECT_EQ(split.hasSignatureSection, hasSection) << bytes;
  }
}

TEST(DocumentTrust, AcceptsASignedDocumentAndRefusesEveryChangedByte) {
  const tool::KeyPair key = NewKey();
  const std::string document = Signed(kDocument, {&key});
  const DocumentVerdict verdict = CheckUpdateDocument(document, Pinned({&key}), kNow);
  EXPECT_TRUE(verdict.accepted() && verdict.document && verdict.document->packageSize == 1000u);
  for (std::size_t i = 0; i < std::string_view(kDocument).size(); ++i) {
    std::string changed = document;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_FALSE(CheckUpdateDocument(changed, Pinned({&key}), kNow).accepted()) << i;
  }
}

TEST(DocumentTrust, AnyPinnedKeyAndAnySignatureLineWill) {
  const tool::KeyPair a = NewKey(), b = NewKey(), c = NewKey();
  using Keys = std::vector<const tool::KeyPair*>;
  const std::tuple<Keys, Keys, SignatureStatus, int> cases[] = {
      // signers, pinned keys
      {{&a}, {&a}, SignatureStatus::kValid, 0},
      {{&b}, {&a, &b}, SignatureStatus::kValid, 1},  // rotation: the new key among the old
      {{&c, &b}, {&b}, SignatureStatus::kValid, 0},  // one line per key, any one verifies
      {{&a, &b}, {&c}, SignatureStatus::kInvalid, -1},
      {{}, {&a}, SignatureStatus::kMissing, -1},
  };
  for (const auto& [signers, pinned, status, keyIndex] : cases) {
    const DocumentVerdict verdict =
        CheckUpdateDocument(Signed(kDocument, signers), Pinned(pinned), kNow);
    EXPECT_EQ(verdict.signature, status) << signers.size() << " " << pinned.size();
    EXPECT_EQ(verdict.keyIndex, keyIndex);
    EXPECT_EQ(verdict.accepted(), status == SignatureStatus::kValid);
  }
  // A signature line swapped for another document's does not verify this one.
  const std::string other = Signed("[UpdateInfo]\r\nVersion=9\r\n", {&a});
  const std::string spliced = std::string(kDocument) + other.substr(other.find("[Signature]"));
  EXPECT_EQ(CheckUpdateDocument(spliced, Pinned({&a}), kNow).signature, SignatureStatus::kInvalid);
}

TEST(DocumentTrust, ExpiresAtItsSecond) {
  const tool::KeyPair key = NewKey();
  const std::string body = std::string(kDocument) + "Expires=2027-01-15T08:00:00Z\r\n";
  const std::string document = Signed(body, {&key});
  EXPECT_TRUE(CheckUpdateDocument(document, Pinned({&key}), kNow - 1).accepted());
  EXPECT_EQ(CheckUpdateDocument(document, Pinned({&key}), kNow).refusal, DocumentRefusal::kExpired);
  EXPECT_EQ(CheckUpdateDocument(body, TrustAnchors{}, kNow + 86400).refusal,
            DocumentRefusal::kExpired);  // unsigned documents expire too
}

TEST(DocumentTrust, PinnedKeysNeedTheDigestInTheSignedPart) {
  const tool::KeyPair key = NewKey();
  const std::string bare = "[UpdateInfo]\r\nVersion=1.1\r\n";
  EXPECT_EQ(CheckUpdateDocument(Signed(bare, {&key}), Pinned({&key}), kNow).refusal,
            DocumentRefusal::kDigestMissing);
  // Fields after the signature line are not read at all.
  const std::string appended = Signed(bare, {&key}) + "[UpdateInfo]\r\nSize=1\r\n";
  EXPECT_EQ(CheckUpdateDocument(appended, Pinned({&key}), kNow).refusal,
            DocumentRefusal::kDigestMissing);
  EXPECT_TRUE(CheckUpdateDocument(bare, TrustAnchors{}, kNow).accepted());
}

}  // namespace
}  // namespace sealupdate
