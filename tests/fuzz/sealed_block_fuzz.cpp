// The sealed-block reader and frame decipherer on any bytes: no crash, nothing beyond the input.
#include <cstdlib>
#include <filesystem>
#include <random>

#include "base/text.h"
#include "platform/files.h"
#include "startup/seal_key.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  static const SealKey key = BuildSealKey();
  static const std::filesystem::path file =
      std::filesystem::temp_directory_path() /
      ("sealed_block_fuzz_" + std::to_string(std::random_device()()) + ".bin");
  const std::vector<std::uint8_t> input(data, data + size);
  const std::size_t direct = DecipherBytes(input, key.data()).size();
  if (direct != 0 && (direct + 10 > size || size % 8 != 0)) std::abort();
  if (!WriteWholeFile(Utf8ToUtf16(file.u8string()), std::string(input.begin(), input.end())))
    return 0;
  // The real tail, and a short one so that small inputs reach the block read too.
  for (const std::int32_t tail : {kSealTailLength, size > 0 ? data[0] % 16 : 0}) {
    const auto block = ReadSealedBlock(Utf8ToUtf16(file.u8string()), tail);
    if ((!block.empty() && block.size() + 10 + static_cast<std::size_t>(tail) > size) ||
        DecipherBytes(block, key.data()).size() > block.size())
      std::abort();
  }
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
  return 0;
}
