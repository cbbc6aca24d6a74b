// Base64 and hexadecimal, strict both ways: keys, signatures and digests travel in these, so an
// odd character is an error rather than something skipped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sealupdate {

// Standard alphabet with "=" padding (RFC 4648 section 4).
std::string Base64Encode(const std::uint8_t* data, std::size_t size);
// nullopt for anything but canonical padded base64: wrong length, characters outside the
// alphabet, misplaced padding or non-zero bits in the last character's unused part.
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

std::string HexEncode(const std::uint8_t* data, std::size_t size);  // lower case
// Either case; nullopt for an odd length or a non-hex character.
std::optional<std::vector<std::uint8_t>> HexDecode(std::string_view text);

}  // namespace sealupdate
