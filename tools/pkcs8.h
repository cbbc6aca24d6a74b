// The PKCS#8 form of a P-256 private key, for the Windows build where the system's encoder may
// be missing (Wine's crypt32 has neither PKCS_PRIVATE_KEY_INFO nor X509_ECC_PRIVATE_KEY):
//   PrivateKeyInfo { 0, { id-ecPublicKey, prime256v1 },
//                    OCTET STRING ECPrivateKey { 1, OCTET STRING d, [0] curve?, [1] point? } }
// DER framing only; the key itself comes from the system.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace sealupdate::tool {

using P256Scalar = std::array<std::uint8_t, 32>;

struct P256PrivateKey {
  P256Scalar d{};
  std::optional<P256PublicKey> publicKey;  // absent when the file leaves it out
};

// The DER keygen writes: the same bytes OpenSSL writes for such a key.
std::vector<std::uint8_t> EncodeP256Pkcs8(const P256Scalar& d, const P256PublicKey& publicKey);
// nullopt for anything but a P-256 key in that structure (definite lengths, nothing trailing).
std::optional<P256PrivateKey> DecodeP256Pkcs8(const std::vector<std::uint8_t>& der);

// PEM with the "PRIVATE KEY" label, base64 lines of 64 characters.
std::string PrivateKeyPem(const std::vector<std::uint8_t>& der);
// The DER inside the first "PRIVATE KEY" block; nullopt when there is none or it is no base64.
std::optional<std::vector<std::uint8_t>> PrivateKeyDer(std::string_view pem);

}  // namespace sealupdate::tool
