// SHA-256 and P-256 verification through CNG (bcrypt.dll), which every supported Windows has.
#include "platform/cng_win.h"
#include "platform/crypto.h"

#include <cstring>
#include <optional>
#include <type_traits>
#include <vector>

namespace sealupdate {

namespace win {

const CngFunctions* Cng() {
  static const std::optional<CngFunctions> functions = []() -> std::optional<CngFunctions> {
    HMODULE dll = LoadLibraryExW(L"bcrypt.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!dll) return std::nullopt;
    bool complete = true;
    const auto bind = [&](auto& function, const char* name) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
          reinterpret_cast<void*>(GetProcAddress(dll, name)));
      complete = complete && function != nullptr;
    };
    CngFunctions f{};
    bind(f.openAlgorithmProvider, "BCryptOpenAlgorithmProvider");
    bind(f.closeAlgorithmProvider, "BCryptCloseAlgorithmProvider");
    bind(f.createHash, "BCryptCreateHash");
    bind(f.hashData, "BCryptHashData");
    bind(f.finishHash, "BCryptFinishHash");
    bind(f.destroyHash, "BCryptDestroyHash");
    bind(f.importKeyPair, "BCryptImportKeyPair");
    bind(f.verifySignature, "BCryptVerifySignature");
    bind(f.destroyKey, "BCryptDestroyKey");
    if (!complete) return std::nullopt;  // the module stays loaded: harmless, and rare
    return f;
  }();
  return functions ? &*functions : nullptr;
}

}  // namespace win

namespace {

using win::Cng;
using win::UniqueAlgorithm;
using win::UniqueHash;
using win::UniqueKey;

bool Succeeded(NTSTATUS status) { return status >= 0; }

UniqueAlgorithm OpenAlgorithm(const wchar_t* name) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!Cng() || !Succeeded(Cng()->openAlgorithmProvider(&algorithm, name, nullptr, 0))) return {};
  return UniqueAlgorithm(algorithm);
}

}  // namespace

struct Sha256::State {
  UniqueAlgorithm algorithm;
  UniqueHash hash;
  bool failed = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (state_->algorithm &&
      Succeeded(Cng()->createHash(state_->algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0))) {
    state_->hash.reset(hash);
  }
  state_->failed = !state_->hash;
}

Sha256::~Sha256() = default;

void Sha256::Update(const void* data, std::size_t size) {
  auto* bytes = static_cast<UCHAR*>(const_cast<void*>(data));  // CNG never writes through it
  while (!state_->failed && size > 0) {
    const ULONG piece = size > 0x40000000 ? 0x40000000 : static_cast<ULONG>(size);
    state_->failed = !Succeeded(Cng()->hashData(state_->hash.get(), bytes, piece, 0));
    bytes += piece;
    size -= piece;
  }
}

std::optional<Sha256Digest> Sha256::Finish() {
  Sha256Digest digest{};
  if (state_->failed ||
      !Succeeded(Cng()->finishHash(state_->hash.get(), digest.data(), digest.size(), 0))) {
    state_->failed = true;
    return std::nullopt;
  }
  state_->failed = true;  // spent
  return digest;
}

bool VerifyP256(const P256PublicKey& key, std::string_view message,
                const P256Signature& signature) {
  if (key[0] != 0x04) return false;
  const std::optional<Sha256Digest> digest = Sha256Of(message);
  const UniqueAlgorithm algorithm = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  if (!digest || !algorithm) return false;
  // BCRYPT_ECCKEY_BLOB header, then X and Y.
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data() + 1, 64);
  BCRYPT_KEY_HANDLE imported = nullptr;
  if (!Succeeded(Cng()->importKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported,
                                      blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  const UniqueKey publicKey(imported);
  Sha256Digest hash = *digest;
  P256Signature copy = signature;
  return Cng()->verifySignature(publicKey.get(), nullptr, hash.data(), hash.size(), copy.data(),
                                copy.size(), 0) == 0;
}

}  // namespace sealupdate
