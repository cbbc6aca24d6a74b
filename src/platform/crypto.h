// The cryptography seam: SHA-256 and ECDSA P-256 verification from the system (CNG on Windows,
// OpenSSL's libcrypto elsewhere). Nothing here is implemented by hand.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace sealupdate {

using Sha256Digest = std::array<std::uint8_t, 32>;
// The uncompressed point 04 || X || Y.
using P256PublicKey = std::array<std::uint8_t, 65>;
// r || s, each 32 bytes big-endian.
using P256Signature = std::array<std::uint8_t, 64>;

class Sha256 final {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const void* data, std::size_t size);
  // The digest of everything added; nullopt when the system could not hash (callers fail
  // closed). The object is spent afterwards.
  std::optional<Sha256Digest> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

std::optional<Sha256Digest> Sha256Of(std::string_view bytes);

// True only when `signature` is a valid ECDSA P-256 / SHA-256 signature of `message` under `key`.
bool VerifyP256(const P256PublicKey& key, std::string_view message, const P256Signature& signature);

}  // namespace sealupdate
