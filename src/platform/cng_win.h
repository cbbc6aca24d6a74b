// Owners of CNG (bcrypt.dll) handles, for the client's verification and the tool's signing.
// Only *_win.cpp files include this header.
#pragma once

#include "platform/win32.h"

#include <bcrypt.h>  // after <windows.h>

namespace sealupdate::win {

struct BcryptAlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};
struct BcryptHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptDestroyHash(h); }
};
struct BcryptKeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptDestroyKey(h); }
};
using UniqueAlgorithm = UniqueHandle<BcryptAlgorithmTraits>;
using UniqueHash = UniqueHandle<BcryptHashTraits>;
using UniqueKey = UniqueHandle<BcryptKeyTraits>;

}  // namespace sealupdate::win
