// SHA-256 and P-256 verification through OpenSSL's libcrypto, for the native tool and tests.
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <vector>

#include "platform/crypto.h"
#include "platform/openssl_owners.h"

namespace sealupdate {
namespace {

using openssl::kP256InfoPrefix;
using openssl::UniqueEcdsaSig;
using openssl::UniqueMdContext;
using openssl::UniquePkey;

UniquePkey ImportPublicKey(const P256PublicKey& key) {
  std::vector<unsigned char> der(kP256InfoPrefix, kP256InfoPrefix + sizeof kP256InfoPrefix);
  der.insert(der.end(), key.begin(), key.end());
  const unsigned char* cursor = der.data();
  return UniquePkey(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
}

// r || s as the DER SEQUENCE libcrypto verifies.
std::vector<unsigned char> DerSignature(const P256Signature& signature) {
  UniqueEcdsaSig sig(ECDSA_SIG_new());
  if (!sig) return {};
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!r || !s || !ECDSA_SIG_set0(sig.get(), r, s)) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  const int size = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (size <= 0) return {};
  std::vector<unsigned char> der(static_cast<std::size_t>(size));
  unsigned char* cursor = der.data();
  i2d_ECDSA_SIG(sig.get(), &cursor);
  return der;
}

}  // namespace

struct Sha256::State {
  UniqueMdContext context{EVP_MD_CTX_new()};
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->failed =
      !state_->context || EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  if (!state_->failed && size > 0) {
    state_->failed = EVP_DigestUpdate(state_->context.get(), data, size) != 1;
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  const bool ok = !state_->failed &&
                  EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) == 1 &&
                  length == digest.size();
  state_->failed = true;  // spent
  if (!ok) return std::nullopt;
  return digest;
}

bool VerifyP256(const P256PublicKey& key, std::string_view message,
                const P256Signature& signature) {
  if (key[0] != 0x04) return false;
  const UniquePkey publicKey = ImportPublicKey(key);
  const std::vector<unsigned char> der = DerSignature(signature);
  const UniqueMdContext context(EVP_MD_CTX_new());
  if (!publicKey || der.empty() || !context) return false;
  if (EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), der.data(), der.size(),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace sealupdate
