// libFuzzer target: the sealed-block reader and the frame decipherer on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "platform/files.h"
#include "startup/seal_key.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace {

const std::u16string& FuzzFilePath() {
  static const std::u16string path = [] {
    std::random_device random;
    const auto file = std::filesystem::temp_directory_path() /
                      ("sealed_block_fuzz_" + std::to_string(random()) + ".bin");
    return sealupdate::Utf8ToUtf16(file.string());
  }();
  return path;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  static const SealKey key = BuildSealKey();
  const std::vector<std::uint8_t> input(data, data + size);

  const std::vector<std::uint8_t> direct = DecipherBytes(input, key.data());
  Check(direct.empty() || (direct.size() + 10 <= size && size % 8 == 0));

  if (!WriteWholeFile(FuzzFilePath(), std::string(input.begin(), input.end()))) return 0;
  // The real tail, and a short one so that small inputs reach the block read too.
  const std::int32_t shortTail = size > 0 ? data[0] % 16 : 0;
  for (const std::int32_t tail : {kSealTailLength, shortTail}) {
    const std::vector<std::uint8_t> block = ReadSealedBlock(FuzzFilePath(), tail);
    Check(block.size() + 10 + static_cast<std::size_t>(tail) <= size || block.empty());
    const std::vector<std::uint8_t> content = DecipherBytes(block, key.data());
    Check(content.size() <= block.size());
  }
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::u8path(Utf16ToUtf8(FuzzFilePath())), ignored);
  return 0;
}
