// The rollout bucket of a machine.
#include "model/rollout.h"

#include <cstdint>
#include <string>

#include "base/text.h"
#include "platform/crypto.h"

namespace sealupdate {

std::optional<int> RolloutBucket(std::u16string_view machineGuid,
                                 std::u16string_view firstUpdateAddress) {
  std::u16string guid = TrimSpaces(machineGuid);
  if (!guid.empty() && guid.front() == u'{') guid.erase(0, 1);
  if (!guid.empty() && guid.back() == u'}') guid.pop_back();
  if (guid.empty()) return std::nullopt;
  const std::string text =
      Utf16ToUtf8(ToLowerUnits(guid)) + "|" + Utf16ToUtf8(TrimSpaces(firstUpdateAddress));
  const std::optional<Sha256Digest> digest = Sha256Of(text);
  if (!digest) return std::nullopt;
  std::uint64_t number = 0;
  for (std::size_t i = 0; i < 8; ++i) number = number << 8 | (*digest)[i];
  return static_cast<int>(number % 100);
}

}  // namespace sealupdate
