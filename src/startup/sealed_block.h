// The sealed configuration block at the end of a client executable:
//   enciphered block (B bytes) | length field (10 bytes: B - 1 in hex, right-aligned, blanks)
//   | reserved tail (826 zero bytes, never examined)
// A client Authenticode-signed after sealing carries the signer's attribute certificate table
// behind that, after the zero bytes that aligned it to 8: the trailer then ends just before them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"

namespace sealupdate {

constexpr std::int32_t kSealTailLength = 826;
constexpr std::size_t kSealLengthFieldSize = 10;

// Where the sealed trailer ends: the end of the file, or before a trailing certificate table and
// the zero padding (0 to 7 bytes) a signer put in front of it. The padding is told from the
// zero tail by the length field's last character, a hex digit, so this reads 8 bytes, no more.
std::uint64_t SealedTrailerEnd(ByteView& file, std::int32_t tailLength);

// The enciphered block, given the length of the tail behind the length field; empty when the
// file has no readable block. Reads the PE headers, the length field and the block; never scans.
std::vector<std::uint8_t> ReadSealedBlock(ByteView& file, std::int32_t tailLength);
std::vector<std::uint8_t> ReadSealedBlock(const std::u16string& path, std::int32_t tailLength);

// The value (B - 1) of a length field: spaces, tabs and line feeds removed, read as hexadecimal
// by the leading-number parse. 0 when the field names no block (nothing readable, a value of 0
// or less, or one beyond the 32-bit signed range).
std::int64_t ParseLengthField(std::string_view tenBytes);

// What the sealing tool appends to a client: the block, its length field and the zero tail.
std::string MakeSealedTrailer(const std::vector<std::uint8_t>& block);

}  // namespace sealupdate
