// Key generation and signing through CNG (bcrypt.dll); the PKCS#8 key file through crypt32.
#include "platform/cng_win.h"
// After <windows.h>:
#include <wincrypt.h>

#include <cstring>
#include <string>
#include <vector>

#include "pkcs8.h"
#include "signing.h"

namespace sealupdate::tool {
namespace {

using win::UniqueAlgorithm;
using win::UniqueKey;

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// The algorithm parameters of a P-256 key: the DER of OID 1.2.840.10045.3.1.7.
constexpr BYTE kP256Parameters[] = {0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
constexpr std::size_t kHalf = 32;

// Private key material, wiped when it goes.
struct Secret {
  std::vector<BYTE> bytes;
  explicit Secret(std::size_t size) : bytes(size) {}
  ~Secret() { SecureZeroMemory(bytes.data(), bytes.size()); }
};

UniqueAlgorithm OpenP256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0)
    return {};
  return UniqueAlgorithm(algorithm);
}

// Encodes a structure with crypt32; empty on failure.
std::vector<BYTE> Encode(LPCSTR type, const void* structure) {
  BYTE* out = nullptr;
  DWORD size = 0;
  if (!CryptEncodeObjectEx(kEncoding, type, structure, CRYPT_ENCODE_ALLOC_FLAG, nullptr, &out,
                           &size)) {
    return {};
  }
  const win::UniqueLocalMemory owned(out);
  return std::vector<BYTE>(out, out + size);
}

// Decodes into a buffer crypt32 allocates; null on failure.
template <typename T>
T* Decode(LPCSTR type, const BYTE* der, DWORD size, win::UniqueLocalMemory& owner) {
  void* out = nullptr;
  DWORD outSize = 0;
  if (!CryptDecodeObjectEx(kEncoding, type, der, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &out,
                           &outSize)) {
    return nullptr;
  }
  owner.reset(out);
  return static_cast<T*>(out);
}

// The key through crypt32; nullopt when it cannot read it (Wine's crypt32 lacks the decoders).
std::optional<P256PrivateKey> ReadWithCrypt32(std::string_view pem) {
  DWORD derSize = 0;
  const auto pemSize = static_cast<DWORD>(pem.size());
  if (!CryptStringToBinaryA(pem.data(), pemSize, CRYPT_STRING_BASE64HEADER, nullptr, &derSize,
                            nullptr, nullptr)) {
    return std::nullopt;
  }
  Secret der(derSize);
  if (!CryptStringToBinaryA(pem.data(), pemSize, CRYPT_STRING_BASE64HEADER, der.bytes.data(),
                            &derSize, nullptr, nullptr)) {
    return std::nullopt;
  }
  win::UniqueLocalMemory infoOwner, eccOwner;
  const auto* info =
      Decode<CRYPT_PRIVATE_KEY_INFO>(PKCS_PRIVATE_KEY_INFO, der.bytes.data(), derSize, infoOwner);
  if (!info || !info->Algorithm.pszObjId ||
      std::strcmp(info->Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) != 0 ||
      info->Algorithm.Parameters.cbData != sizeof kP256Parameters ||
      std::memcmp(info->Algorithm.Parameters.pbData, kP256Parameters, sizeof kP256Parameters)) {
    return std::nullopt;
  }
  const auto* ecc = Decode<CRYPT_ECC_PRIVATE_KEY_INFO>(
      X509_ECC_PRIVATE_KEY, info->PrivateKey.pbData, info->PrivateKey.cbData, eccOwner);
  if (!ecc || ecc->PrivateKey.cbData != kHalf) return std::nullopt;
  P256PrivateKey key;
  std::memcpy(key.d.data(), ecc->PrivateKey.pbData, kHalf);
  SecureZeroMemory(ecc->PrivateKey.pbData, kHalf);
  if (ecc->PublicKey.cbData == 1 + 2 * kHalf && ecc->PublicKey.pbData[0] == 0x04) {
    P256PublicKey point;
    std::memcpy(point.data(), ecc->PublicKey.pbData, point.size());
    key.publicKey = point;
  }
  return key;
}

}  // namespace

std::optional<KeyPair> GenerateP256Key(std::string& problem) {
  problem = "CNG could not generate a P-256 key";
  const UniqueAlgorithm algorithm = OpenP256();
  BCRYPT_KEY_HANDLE made = nullptr;
  if (!algorithm || BCryptGenerateKeyPair(algorithm.get(), &made, 256, 0) < 0) return std::nullopt;
  const UniqueKey key(made);
  // BCRYPT_ECCKEY_BLOB, then X, Y and the private scalar d.
  Secret blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kHalf);
  ULONG size = 0;
  if (BCryptFinalizeKeyPair(key.get(), 0) < 0 ||
      BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.bytes.data(),
                      static_cast<ULONG>(blob.bytes.size()), &size, 0) < 0 ||
      size != blob.bytes.size()) {
    return std::nullopt;
  }
  const BYTE* x = blob.bytes.data() + sizeof(BCRYPT_ECCKEY_BLOB);
  KeyPair pair;
  pair.publicKey[0] = 0x04;
  std::memcpy(pair.publicKey.data() + 1, x, 2 * kHalf);

  // RFC 5915 ECPrivateKey inside a PKCS#8 PrivateKeyInfo, the curve named by the algorithm.
  CRYPT_ECC_PRIVATE_KEY_INFO ecc{};
  ecc.dwVersion = CRYPT_ECC_PRIVATE_KEY_INFO_v1;
  ecc.PrivateKey = {static_cast<DWORD>(kHalf), const_cast<BYTE*>(x + 2 * kHalf)};
  ecc.PublicKey = {static_cast<DWORD>(pair.publicKey.size()), pair.publicKey.data(), 0};
  Secret inner(0);
  inner.bytes = Encode(X509_ECC_PRIVATE_KEY, &ecc);
  CRYPT_PRIVATE_KEY_INFO info{};
  info.Algorithm.pszObjId = const_cast<LPSTR>(szOID_ECC_PUBLIC_KEY);
  info.Algorithm.Parameters = {sizeof kP256Parameters, const_cast<BYTE*>(kP256Parameters)};
  info.PrivateKey = {static_cast<DWORD>(inner.bytes.size()), inner.bytes.data()};
  Secret outer(0);
  if (!inner.bytes.empty()) outer.bytes = Encode(PKCS_PRIVATE_KEY_INFO, &info);
  if (outer.bytes.empty()) {  // crypt32 without these encoders: the same DER, framed here
    P256Scalar d;
    std::memcpy(d.data(), x + 2 * kHalf, kHalf);
    outer.bytes = EncodeP256Pkcs8(d, pair.publicKey);
    SecureZeroMemory(d.data(), d.size());
  }
  pair.privatePem = PrivateKeyPem(outer.bytes);
  return pair;
}

std::optional<Signed> SignP256(std::string_view privatePem, std::string_view message,
                               std::string& problem) {
  problem = "not a P-256 private key in PKCS#8 PEM form";
  std::optional<P256PrivateKey> key = ReadWithCrypt32(privatePem);
  if (!key) {
    const auto der = PrivateKeyDer(privatePem);
    if (der) key = DecodeP256Pkcs8(*der);
  }
  if (!key) return std::nullopt;
  // CNG imports a private key with its public point.
  if (!key->publicKey) {
    problem = "the key file lacks the public point CNG needs; write it with keygen or OpenSSL";
    return std::nullopt;
  }
  Signed out{};
  out.publicKey = *key->publicKey;
  Secret blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kHalf);
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, static_cast<ULONG>(kHalf)};
  std::memcpy(blob.bytes.data(), &header, sizeof header);
  std::memcpy(blob.bytes.data() + sizeof header, out.publicKey.data() + 1, 2 * kHalf);
  std::memcpy(blob.bytes.data() + sizeof header + 2 * kHalf, key->d.data(), kHalf);
  SecureZeroMemory(key->d.data(), kHalf);

  problem = "CNG could not sign";
  const UniqueAlgorithm algorithm = OpenP256();
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!algorithm ||
      BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &imported,
                          blob.bytes.data(), static_cast<ULONG>(blob.bytes.size()), 0) < 0) {
    return std::nullopt;
  }
  const UniqueKey signer(imported);
  std::optional<Sha256Digest> digest = Sha256Of(message);
  ULONG size = 0;
  // CNG's ECDSA signature is r || s already.
  if (!digest ||
      BCryptSignHash(signer.get(), nullptr, digest->data(), static_cast<ULONG>(digest->size()),
                     out.signature.data(), static_cast<ULONG>(out.signature.size()), &size,
                     0) < 0 ||
      size != out.signature.size()) {
    return std::nullopt;
  }
  return out;
}

bool IsP256Point(const P256PublicKey& key) {
  if (key[0] != 0x04) return false;
  // CNG validates a public key as it imports it (unless told BCRYPT_NO_KEY_VALIDATION); Wine's
  // CNG does not, and offers no other way to test the curve equation (ECDH derivation and raw
  // RSA are not implemented there either), so under Wine every 04 || X || Y passes.
  std::vector<BYTE> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kHalf);
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kHalf)};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data() + 1, 2 * kHalf);
  const UniqueAlgorithm algorithm = OpenP256();
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!algorithm || BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported,
                                        blob.data(), static_cast<ULONG>(blob.size()), 0) < 0) {
    return false;
  }
  const UniqueKey owned(imported);
  return true;
}

}  // namespace sealupdate::tool
