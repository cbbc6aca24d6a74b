// CNG (bcrypt.dll), bound when first used: for the client's verification and the tool's signing.
// Only *_win.cpp files include this header.
#pragma once

#include "platform/win32.h"

#include <bcrypt.h>  // after <windows.h>

namespace sealupdate::win {

// The client does not import bcrypt.dll: loading it at start (under Wine, with the crypto
// library behind it) cost every silent check about 5 ms, and most checks hash nothing.
struct CngFunctions {
  decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider;
  decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider;
  decltype(&BCryptCreateHash) createHash;
  decltype(&BCryptHashData) hashData;
  decltype(&BCryptFinishHash) finishHash;
  decltype(&BCryptDestroyHash) destroyHash;
  decltype(&BCryptImportKeyPair) importKeyPair;
  decltype(&BCryptVerifySignature) verifySignature;
  decltype(&BCryptDestroyKey) destroyKey;
};

// bcrypt.dll from the system folder, loaded on the first call; nullptr when it or one of the
// functions is missing, and then every hash and verification fails.
const CngFunctions* Cng();

struct BcryptAlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { Cng()->closeAlgorithmProvider(h, 0); }
};
struct BcryptHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { Cng()->destroyHash(h); }
};
struct BcryptKeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { Cng()->destroyKey(h); }
};
using UniqueAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using UniqueHash = UniqueHandle<BcryptHashTraits>;
using UniqueKey = UniqueHandle<BcryptKeyTraits>;

}  // namespace sealupdate::win
