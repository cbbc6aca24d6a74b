// The Tiny Encryption Algorithm (32 cycles, big-endian words) chained in infinite garble
// extension mode with both initial values zero, and the padding frame of the sealed block.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace sealupdate {

// Enciphers length / 8 whole blocks from `source` into `destination`; a remainder of 1-7 bytes is
// left untouched. The key is 16 bytes (four big-endian words). Source and destination may be the
// same buffer. The chain starts from zero on every call.
void EncipherBlocks(const std::uint8_t* source, std::uint8_t* destination, const std::uint8_t* key,
                    std::uint32_t length);
// The inverse of EncipherBlocks.
void DecipherBlocks(const std::uint8_t* source, std::uint8_t* destination, const std::uint8_t* key,
                    std::uint32_t length);

// The content of an enciphered padding frame, or an empty array when the length is wrong, the
// frame does not check out (a wrong key shows as non-zero closing bytes) or it holds no content.
// `key` points to at least 16 bytes; only the first 16 are used.
std::vector<std::uint8_t> DecipherBytes(const std::vector<std::uint8_t>& data,
                                        const std::uint8_t* key);

// Builds the padding frame around `content` (header with the pad count p in its low 3 bits,
// 2 + p filler bytes, the content, seven zero bytes; a multiple of 8 and at least 16 bytes long)
// and enciphers it. Header bits and filler come from `randomByte`. Empty when the frame would
// not fit a 32-bit length.
std::vector<std::uint8_t> FrameAndEncipher(const std::vector<std::uint8_t>& content,
                                           const std::uint8_t* key,
                                           const std::function<std::uint8_t()>& randomByte);

}  // namespace sealupdate
