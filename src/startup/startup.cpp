// Start-up without a window: the sealed configuration and the update mode.
#include "startup/startup.h"

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace sealupdate {

std::u16string ReadSealedConfiguration(const std::u16string& exePath, const SealKey& key) {
  const std::vector<std::uint8_t> block = ReadSealedBlock(exePath, kSealTailLength);
  const std::vector<std::uint8_t> plain = DecipherBytes(block, key.data());
  return AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()));
}

ClientConfig LoadClientConfig(const std::u16string& exePath, std::u16string_view commandLine,
                              const SealKey& key) {
  return ReadClientConfig(ReadSealedConfiguration(exePath, key), FolderOf(exePath), commandLine);
}

}  // namespace sealupdate
