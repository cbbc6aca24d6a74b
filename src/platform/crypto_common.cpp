#include "platform/crypto.h"

namespace sealupdate {

std::optional<Sha256Digest> Sha256Of(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.Finish();
}

}  // namespace sealupdate
