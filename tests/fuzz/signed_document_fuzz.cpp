// The signed-document split and verification with a fixed key: a document verifies only when its
// signed text is the text that was signed, and nothing after the signature line matters.
#include <cstdlib>

#include "base/encoding.h"
#include "model/document_trust.h"
#include "signing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  static const std::string kBody =
      "[UpdateInfo]\r\nVersion=2\r\nSize=1\r\nSHA256=" + std::string(64, 'a') + "\r\n";
  static TrustAnchors anchors{true, {}};
  static std::string signature;
  if (signature.empty()) {
    std::string problem;
    const auto key = tool::GenerateP256Key(problem);
    const auto made = key ? tool::SignP256(key->privatePem, kBody, problem) : std::nullopt;
    if (!made) std::abort();
    anchors.keys.push_back(made->publicKey);
    signature = "[Signature]\r\nP256=" + Base64Encode(made->signature.data(), 64) + "\r\n";
  }
  const std::string input(reinterpret_cast<const char*>(data), size);
  if ((CheckUpdateDocument(input, anchors, 0).signature == SignatureStatus::kValid &&
       CrLfLineEnds(SplitSignedDocument(input).signedBytes) != kBody) ||
      CheckUpdateDocument(kBody + signature + input, anchors, 0).signature !=
          SignatureStatus::kValid)
    std::abort();
  return 0;
}
