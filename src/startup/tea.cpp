// The seal cipher: TEA in IGE mode over a padded frame.
#include "startup/tea.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace sealupdate {
namespace {

constexpr std::uint32_t kDelta = 0x9E3779B9u;
constexpr std::uint32_t kCycles = 32;
constexpr std::uint32_t kFinalSum = kDelta * kCycles;  // 0xC6EF3720 modulo 2^32
constexpr std::size_t kBlock = 8;
constexpr std::size_t kClosingZeros = 7;
constexpr std::size_t kFrameOverhead = 10;  // header, two filler bytes, seven closing zeros

std::uint32_t LoadWord(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}

void StoreWord(std::uint32_t v, std::uint8_t* p) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

struct Key {
  std::uint32_t k0, k1, k2, k3;
};

Key LoadKey(const std::uint8_t* key) {
  return {LoadWord(key), LoadWord(key + 4), LoadWord(key + 8), LoadWord(key + 12)};
}

struct Pair {
  std::uint32_t y, z;
  Pair operator^(const Pair& o) const { return {y ^ o.y, z ^ o.z}; }
};

Pair LoadPair(const std::uint8_t* p) { return {LoadWord(p), LoadWord(p + 4)}; }

void StorePair(const Pair& v, std::uint8_t* p) {
  StoreWord(v.y, p);
  StoreWord(v.z, p + 4);
}

Pair EncipherPair(Pair v, const Key& k) {
  std::uint32_t sum = 0;
  for (std::uint32_t i = 0; i < kCycles; ++i) {
    sum += kDelta;
    v.y += ((v.z << 4) + k.k0) ^ (v.z + sum) ^ ((v.z >> 5) + k.k1);
    v.z += ((v.y << 4) + k.k2) ^ (v.y + sum) ^ ((v.y >> 5) + k.k3);
  }
  return v;
}

Pair DecipherPair(Pair v, const Key& k) {
  std::uint32_t sum = kFinalSum;
  for (std::uint32_t i = 0; i < kCycles; ++i) {
    v.z -= ((v.y << 4) + k.k2) ^ (v.y + sum) ^ ((v.y >> 5) + k.k3);
    v.y -= ((v.z << 4) + k.k0) ^ (v.z + sum) ^ ((v.z >> 5) + k.k1);
    sum -= kDelta;
  }
  return v;
}

}  // namespace

void EncipherBlocks(const std::uint8_t* source, std::uint8_t* destination, const std::uint8_t* key,
                    std::uint32_t length) {
  const Key k = LoadKey(key);
  Pair previousCipher{0, 0};
  Pair previousPlain{0, 0};
  const std::size_t blocks = length / kBlock;
  for (std::size_t i = 0; i < blocks; ++i) {
    const Pair plain = LoadPair(source + i * kBlock);  // read before the output may overwrite it
    const Pair cipher = EncipherPair(plain ^ previousCipher, k) ^ previousPlain;
    StorePair(cipher, destination + i * kBlock);
    previousCipher = cipher;
    previousPlain = plain;
  }
}

void DecipherBlocks(const std::uint8_t* source, std::uint8_t* destination, const std::uint8_t* key,
                    std::uint32_t length) {
  const Key k = LoadKey(key);
  Pair previousPlain{0, 0};
  Pair previousCipher{0, 0};
  const std::size_t blocks = length / kBlock;
  for (std::size_t i = 0; i < blocks; ++i) {
    const Pair cipher = LoadPair(source + i * kBlock);
    const Pair plain = DecipherPair(cipher ^ previousPlain, k) ^ previousCipher;
    StorePair(plain, destination + i * kBlock);
    previousPlain = plain;
    previousCipher = cipher;
  }
}

std::vector<std::uint8_t> DecipherBytes(const std::vector<std::uint8_t>& data,
                                        const std::uint8_t* key) {
  const std::size_t n = data.size();
  if (n % kBlock != 0 || n < 2 * kBlock || n > std::numeric_limits<std::uint32_t>::max()) {
    return {};
  }
  std::vector<std::uint8_t> plain(n);
  DecipherBlocks(data.data(), plain.data(), key, static_cast<std::uint32_t>(n));
  if (std::any_of(plain.end() - kClosingZeros, plain.end(), [](std::uint8_t b) { return b != 0; }))
    return {};
  const std::size_t pad = plain[0] & 7u;
  // No content, or (p = 7 in a 16-byte frame) less than none.
  if (n <= pad + kFrameOverhead) return {};
  const auto first = plain.begin() + static_cast<std::ptrdiff_t>(3 + pad);
  return std::vector<std::uint8_t>(first, plain.end() - kClosingZeros);
}

std::vector<std::uint8_t> FrameAndEncipher(const std::vector<std::uint8_t>& content,
                                           const std::uint8_t* key,
                                           const std::function<std::uint8_t()>& randomByte) {
  const std::size_t length = content.size();
  if (length > std::numeric_limits<std::uint32_t>::max() - kFrameOverhead - kBlock) return {};
  const std::size_t pad = (kBlock - (length + kFrameOverhead) % kBlock) % kBlock;
  const std::size_t n = kFrameOverhead + pad + length;  // at least 16: p = 6 for no content
  std::vector<std::uint8_t> frame(n, 0);
  frame[0] = static_cast<std::uint8_t>((randomByte() & 0xF8u) | pad);
  for (std::size_t i = 1; i < 3 + pad; ++i) frame[i] = randomByte();
  std::copy(content.begin(), content.end(), frame.begin() + static_cast<std::ptrdiff_t>(3 + pad));
  EncipherBlocks(frame.data(), frame.data(), key, static_cast<std::uint32_t>(n));
  return frame;
}

}  // namespace sealupdate
