#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "startup/tea.h"

namespace sealupdate {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return out;
}

Bytes Encipher(const Bytes& plain, const Bytes& key) {
  Bytes out(plain.size());
  EncipherBlocks(plain.data(), out.data(), key.data(), static_cast<std::uint32_t>(plain.size()));
  return out;
}

Bytes Decipher(const Bytes& cipher, const Bytes& key) {
  Bytes out(cipher.size());
  DecipherBlocks(cipher.data(), out.data(), key.data(), static_cast<std::uint32_t>(cipher.size()));
  return out;
}

Bytes Xor(Bytes a, const Bytes& b) {
  for (std::size_t i = 0; i < a.size(); ++i) a[i] ^= b[i];
  return a;
}

Bytes Slice(const Bytes& b, std::size_t block) {
  return Bytes(b.begin() + 8 * block, b.begin() + 8 * block + 8);
}

const Bytes kKey = FromHex("0123456712345678234567893456789A");

// Published TEA vectors (big-endian words). With both chaining values zero, the first block of
// the chain is plain TEA.
TEST(Tea, MatchesPublishedVectorsOnTheFirstBlock) {
  struct Vector {
    const char *key, *plain, *cipher;
  } const vectors[] = {
      {"00000000000000000000000000000000", "0000000000000000", "41ea3a0a94baa940"},
      {"00000000000000000000000000000000", "0102030405060708", "6a2f9cf3fccf3c55"},
      {"0123456712345678234567893456789A", "0000000000000000", "34e943b0900f5dcb"},
      {"0123456712345678234567893456789A", "0102030405060708", "773dc179878a81c0"},
  };
  for (const auto& v : vectors) {
    EXPECT_EQ(Encipher(FromHex(v.plain), FromHex(v.key)), FromHex(v.cipher)) << v.plain;
    EXPECT_EQ(Decipher(FromHex(v.cipher), FromHex(v.key)), FromHex(v.plain)) << v.cipher;
  }
}

TEST(Tea, ChainsInInfiniteGarbleExtensionMode) {
  Bytes plain(40);
  for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 37 + 1);
  const Bytes cipher = Encipher(plain, kKey);
  // C1 = E(P1 ^ C0) ^ P0, with E the single-block cipher.
  EXPECT_EQ(Slice(cipher, 1),
            Xor(Encipher(Xor(Slice(plain, 1), Slice(cipher, 0)), kKey), Slice(plain, 0)));
  EXPECT_EQ(Decipher(cipher, kKey), plain);

  // In place, with a 5-byte remainder that stays untouched.
  Bytes buffer = plain;
  buffer.resize(45, 0xEE);
  EncipherBlocks(buffer.data(), buffer.data(), kKey.data(), 45);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 40), cipher);
  EXPECT_EQ(Bytes(buffer.begin() + 40, buffer.end()), Bytes(5, 0xEE));
  DecipherBlocks(buffer.data(), buffer.data(), kKey.data(), 45);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 40), plain);
}

// A frame of n bytes with pad count p and the given content.
Bytes Frame(std::size_t n, std::uint8_t header, const Bytes& content) {
  Bytes frame(n, 0);
  frame[0] = header;
  for (std::size_t i = 1; i < 3u + (header & 7u); ++i) frame[i] = 0xA5;
  std::copy(content.begin(), content.end(), frame.begin() + 3 + (header & 7));
  return Encipher(frame, kKey);
}

TEST(Tea, DecipherBytesChecksLengthFrameAndKey) {
  const Bytes eleven = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  EXPECT_EQ(DecipherBytes(Frame(24, 0xF3, eleven), kKey.data()), eleven);  // content at 6
  EXPECT_TRUE(DecipherBytes(Frame(16, 0x06, {}), kKey.data()).empty());
  EXPECT_TRUE(DecipherBytes(Frame(16, 0x07, {}), kKey.data()).empty());  // room for -1 bytes
  EXPECT_TRUE(DecipherBytes(Bytes(8), kKey.data()).empty());
  EXPECT_TRUE(DecipherBytes(Bytes(20), kKey.data()).empty());
  EXPECT_TRUE(DecipherBytes({}, kKey.data()).empty());

  Bytes otherKey = kKey;
  otherKey[5] ^= 1;
  EXPECT_TRUE(DecipherBytes(Frame(24, 0x03, eleven), otherKey.data()).empty());

  // Key bytes from 16 on are ignored.
  Bytes longKey = kKey;
  longKey.resize(32, 0x5A);
  EXPECT_EQ(DecipherBytes(Frame(24, 0x03, eleven), longKey.data()), eleven);
}

TEST(Tea, FrameAndEncipherRoundTripsEveryLength) {
  std::uint8_t counter = 0;
  const auto random = [&counter] { return counter += 0x3B; };
  for (std::size_t length = 1; length <= 40; ++length) {
    Bytes content(length);
    for (std::size_t i = 0; i < length; ++i) content[i] = static_cast<std::uint8_t>(i + 1);
    const Bytes block = FrameAndEncipher(content, kKey.data(), random);
    EXPECT_EQ(block.size() % 8, 0u);
    EXPECT_GE(block.size(), 16u);
    EXPECT_LT(block.size(), length + 18);  // the smallest frame that fits
    EXPECT_EQ(DecipherBytes(block, kKey.data()), content) << length;
  }
  // The empty frame is 16 bytes with p = 6 and its seven closing zeros, and reads back as nothing.
  const Bytes empty = Decipher(FrameAndEncipher({}, kKey.data(), random), kKey);
  ASSERT_EQ(empty.size(), 16u);
  EXPECT_EQ(empty[0] & 7, 6);
  EXPECT_EQ(Bytes(empty.begin() + 9, empty.end()), Bytes(7, 0));
}

}  // namespace
}  // namespace sealupdate
