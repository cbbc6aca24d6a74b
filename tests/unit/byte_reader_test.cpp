// The byte view and the little-endian reader: every read inside the bytes or refused, even when
// offset + length would wrap around.
#include "base/byte_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace sealupdate {
namespace {

constexpr std::uint64_t kFar = std::numeric_limits<std::uint64_t>::max();

// A view that claims more bytes than it can deliver, as a file cut short after opening.
class FailingView final : public ByteView {
 public:
  std::uint64_t Size() const override { return 100; }
  bool ReadAt(std::uint64_t, void*, std::size_t) override { return false; }
};

TEST(ByteView, ReadsOnlyWhatLiesInside) {
  const std::string bytes = "0123456789";
  MemoryByteView view(bytes);
  char out[10] = {};
  EXPECT_TRUE(view.ReadAt(0, out, 10));
  EXPECT_EQ(std::string(out, 10), bytes);
  EXPECT_TRUE(view.ReadAt(7, out, 3));
  EXPECT_EQ(std::string(out, 3), "789");
  EXPECT_TRUE(view.ReadAt(10, out, 0));  // nothing, at the very end
  for (const auto& [offset, length] : {std::pair<std::uint64_t, std::size_t>{8, 3},
                                       {11, 0},
                                       {kFar, 1},
                                       {kFar - 4, 8},
                                       {1, std::numeric_limits<std::size_t>::max()}}) {
    EXPECT_FALSE(view.ReadAt(offset, out, length)) << offset << "+" << length;
    EXPECT_FALSE(ReadBytes(view, offset, length)) << offset << "+" << length;
  }
  EXPECT_EQ(ReadBytes(view, 3, 4), "3456");
  EXPECT_EQ(ReadBytes(view, 10, 0), "");
  FailingView failing;
  EXPECT_FALSE(ReadBytes(failing, 0, 10));
}

TEST(ByteView, LittleEndianNumbers) {
  const std::string bytes = "\x01\x82\x03\x84\x05\x86\x07\x88\x09";
  EXPECT_EQ(ReadLittle<std::uint16_t>(bytes, 0), 0x8201u);
  EXPECT_EQ(ReadLittle<std::uint32_t>(bytes, 1), 0x05840382u);
  EXPECT_EQ(ReadLittle<std::uint64_t>(bytes, 1), 0x0988078605840382u);
  EXPECT_EQ(ReadLittle<std::uint16_t>(bytes, 7), 0x0988u);  // the last two bytes
  for (const std::uint64_t offset : {std::uint64_t{8}, std::uint64_t{9}, kFar - 1, kFar})
    EXPECT_FALSE(ReadLittle<std::uint16_t>(bytes, offset)) << offset;
  EXPECT_FALSE(ReadLittle<std::uint64_t>(bytes, 2));

  MemoryByteView view(bytes);
  EXPECT_EQ(ReadLittle<std::uint32_t>(view, 5), 0x09880786u);
  EXPECT_FALSE(ReadLittle<std::uint32_t>(view, 6));
  FailingView failing;
  EXPECT_FALSE(ReadLittle<std::uint32_t>(failing, 0));
}

}  // namespace
}  // namespace sealupdate
