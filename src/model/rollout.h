// Staged rollout without state on the machine: a document's Rollout=N opens its update to N % of
// machines on automatic checks. Each machine's place is computed afresh on every run from its
// MachineGuid and the client's first update address, so two programs of one publisher do not
// reach the same machines first, and widening a rollout is re-signing with a larger N.
#pragma once

#include <optional>
#include <string_view>

namespace sealupdate {

// The machine's bucket 0..99: the first 8 bytes of the SHA-256 of the UTF-8 text
// "<guid>|<address>", as a big-endian unsigned number, modulo 100. <guid> is the MachineGuid
// trimmed, without braces, lower-cased; <address> the first update address as sealed, trimmed.
// nullopt without a MachineGuid.
std::optional<int> RolloutBucket(std::u16string_view machineGuid,
                                 std::u16string_view firstUpdateAddress);

// Whether a machine in `bucket` is among `percent` % of machines: below it. A machine without a
// bucket is in every rollout above 0, so a missing MachineGuid never holds an update back for good.
constexpr bool InRollout(std::optional<int> bucket, int percent) {
  return bucket ? *bucket < percent : percent > 0;
}

}  // namespace sealupdate
