#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"
#include "scratch.h"
#include "startup/sealed_block.h"

namespace sealupdate {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(SealedBlock, ParsesTheLengthField) {
  struct Case {
    std::string field;
    std::int64_t value;
  } const cases[] = {
      {"         F", 15},         {"       FFF", 4095},
      {" \t1 2\n  ab", 0x12AB},  // blanks, tabs and line feeds anywhere are dropped
      {"        1G", 1},         // stops at the first character that cannot continue
      {"  7FFFFFFF", 0x7FFFFFFF}, {"         0", 0},
      {std::string(10, '\0'), 0}, {"    garbage", 0},
      {"  FFFFFFFF", 0},                              // eight digits read as a signed pattern: -1
      {"  80000000", 0},          {"FFFFFFFFFF", 0},  // beyond the 32-bit range
      {"        -1", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseLengthField(c.field), c.value) << c.field;
}

class SealedFile : public ::testing::Test {
 protected:
  const std::u16string path_ = ScratchFolder() + u"\\sealed_block_test.bin";
  void Write(const std::string& bytes) { ASSERT_TRUE(WriteWholeFile(path_, bytes)); }
};

TEST_F(SealedFile, ReadsTheBlockInFrontOfTheTrailer) {
  const std::string image = "MZ-image-bytes";
  Bytes block(16);
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(0xC0 + i);
  const std::string trailer = MakeSealedTrailer(block);
  ASSERT_EQ(trailer.size(), 16u + 10 + 826);
  EXPECT_EQ(trailer.substr(16, 10), "         F");
  EXPECT_EQ(trailer.substr(26), std::string(826, '\0'));
  EXPECT_EQ(MakeSealedTrailer(Bytes(4096)).substr(4096, 10), "       FFF");

  Write(image + trailer);
  EXPECT_EQ(ReadSealedBlock(path_, kSealTailLength), block);
  // With no image in front the block still fits exactly.
  Write(trailer);
  EXPECT_EQ(ReadSealedBlock(path_, kSealTailLength), block);
  // The tail is skipped by its length only; its content does not matter.
  Write(image + trailer.substr(0, 26) + std::string(826, 'x'));
  EXPECT_EQ(ReadSealedBlock(path_, kSealTailLength), block);
  Write(image + trailer.substr(0, 26));  // no tail at all
  EXPECT_EQ(ReadSealedBlock(path_, 0), block);
}

TEST_F(SealedFile, AnythingWrongGivesNoBlock) {
  const std::string tail(826, '\0');
  const std::string cases[] = {
      std::string(2000, '\0'),                     // no length field
      "         F" + std::string(100, '\0'),       // too short for the trailer
      std::string(30, 'a') + "      FFFF" + tail,  // a block larger than the file
      std::string(30, 'a') + "  7FFFFFFF" + tail,  // a huge one
      std::string(30, 'a') + "        1F" + tail,  // one byte more than there is
      std::string(30, 'a') + "  FFFFFFFF" + tail,  // negative
      std::string(30, 'a') + "      xyz0" + tail,  // not hexadecimal
      std::string(),
  };
  for (const auto& bytes : cases) {
    Write(bytes);
    EXPECT_TRUE(ReadSealedBlock(path_, kSealTailLength).empty()) << bytes.size();
  }
  Write(std::string(32, 'a') + "        1F" + tail);  // exactly the 32 bytes there are
  EXPECT_EQ(ReadSealedBlock(path_, kSealTailLength).size(), 32u);
  EXPECT_TRUE(ReadSealedBlock(path_, -1).empty());
  EXPECT_TRUE(ReadSealedBlock(u"no-such-folder\\no-such-file.exe", kSealTailLength).empty());
}

}  // namespace
}  // namespace sealupdate
