// Key generation and signing on Windows: not available in this build yet.
#include "signing.h"

namespace sealupdate::tool {

std::optional<KeyPair> GenerateP256Key(std::string& problem) {
  problem = "keygen is not available in the Windows build of the tool; use the Linux build";
  return std::nullopt;
}

std::optional<Signed> SignP256(std::string_view, std::string_view, std::string& problem) {
  problem = "signing is not available in the Windows build of the tool; use the Linux build";
  return std::nullopt;
}

}  // namespace sealupdate::tool
