// Key generation and signing through OpenSSL's libcrypto.
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/openssl_owners.h"
#include "signing.h"

namespace sealupdate::tool {
namespace {

using openssl::Deleter;
using openssl::kP256InfoPrefix;
using openssl::UniqueEcdsaSig;
using openssl::UniqueMdContext;
using openssl::UniquePkey;
void FreeBio(BIO* bio) { BIO_free(bio); }
using UniqueBio = std::unique_ptr<BIO, Deleter<BIO, FreeBio>>;
using UniquePkeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;

std::optional<P256PublicKey> PublicPoint(EVP_PKEY* key) {
  const int size = i2d_PUBKEY(key, nullptr);
  if (size != static_cast<int>(sizeof kP256InfoPrefix + P256PublicKey().size()))
    return std::nullopt;
  std::vector<unsigned char> der(static_cast<std::size_t>(size));
  unsigned char* cursor = der.data();
  if (i2d_PUBKEY(key, &cursor) != size ||
      !std::equal(std::begin(kP256InfoPrefix), std::end(kP256InfoPrefix), der.begin())) {
    return std::nullopt;
  }
  P256PublicKey point;
  std::copy(der.begin() + sizeof kP256InfoPrefix, der.end(), point.begin());
  return point;
}

// A key protected by a passphrase is refused instead of prompting on the terminal.
int NoPassphrase(char*, int, int, void*) { return -1; }

}  // namespace

std::optional<KeyPair> GenerateP256Key(std::string& problem) {
  const UniquePkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  const UniqueBio bio(BIO_new(BIO_s_mem()));
  const auto point = key ? PublicPoint(key.get()) : std::nullopt;
  // PEM_write_bio_PrivateKey writes PKCS#8 ("BEGIN PRIVATE KEY"), unencrypted.
  if (!point || !bio ||
      PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    problem = "libcrypto could not generate a P-256 key";
    return std::nullopt;
  }
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  return KeyPair{std::string(data, static_cast<std::size_t>(length)), *point};
}

std::optional<Signed> SignP256(std::string_view privatePem, std::string_view message,
                               std::string& problem) {
  const UniqueBio bio(BIO_new_mem_buf(privatePem.data(), static_cast<int>(privatePem.size())));
  const UniquePkey key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr)
                           : nullptr);
  const auto point = key ? PublicPoint(key.get()) : std::nullopt;
  if (!point) {
    problem = "not a P-256 private key in PKCS#8 PEM form";
    return std::nullopt;
  }
  const UniqueMdContext context(EVP_MD_CTX_new());
  std::size_t size = 0;
  std::vector<unsigned char> der;
  const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
  bool ok = context &&
            EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
            EVP_DigestSign(context.get(), nullptr, &size, bytes, message.size()) == 1;
  if (ok) {
    der.resize(size);
    ok = EVP_DigestSign(context.get(), der.data(), &size, bytes, message.size()) == 1;
    der.resize(size);
  }
  // The DER SEQUENCE { r, s } becomes r || s, each half 32 bytes big-endian.
  const unsigned char* cursor = der.data();
  const UniqueEcdsaSig sig(ok ? d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size()))
                              : nullptr);
  Signed out{{}, *point};
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), out.signature.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), out.signature.data() + 32, 32) != 32) {
    problem = "libcrypto could not sign";
    return std::nullopt;
  }
  return out;
}

bool IsP256Point(const P256PublicKey& key) {
  if (key[0] != 0x04) return false;
  std::vector<unsigned char> der(std::begin(kP256InfoPrefix), std::end(kP256InfoPrefix));
  der.insert(der.end(), key.begin(), key.end());
  const unsigned char* cursor = der.data();
  // Decoding refuses a point off the curve (EC_POINT_oct2point); the public check also refuses
  // coordinates past the field prime and a point outside the group.
  const UniquePkey pkey(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
  const UniquePkeyContext context(pkey ? EVP_PKEY_CTX_new(pkey.get(), nullptr) : nullptr);
  return context && cursor == der.data() + der.size() && EVP_PKEY_public_check(context.get()) == 1;
}

}  // namespace sealupdate::tool
