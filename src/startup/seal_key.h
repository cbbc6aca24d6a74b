// The key that seals the configuration block. Its value comes from the build
// (SEALUPDATE_SEAL_KEY); the generated source sets it byte by byte, masked, in scrambled order.
#pragma once

#include <array>
#include <cstdint>

namespace sealupdate {

using SealKey = std::array<std::uint8_t, 32>;
SealKey BuildSealKey();

}  // namespace sealupdate
