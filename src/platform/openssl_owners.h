// Owners of libcrypto objects, and the DER that frames a P-256 public key, for the native
// verification and the tool's signing. Only files built against OpenSSL include this header.
#pragma once

#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <memory>

namespace sealupdate::openssl {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using UniqueMdContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using UniquePkey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using UniqueEcdsaSig = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

// SubjectPublicKeyInfo of an id-ecPublicKey on prime256v1, up to the uncompressed point: a key
// whose encoding starts otherwise is on another curve or of another kind.
inline constexpr unsigned char kP256InfoPrefix[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,
    0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

}  // namespace sealupdate::openssl
