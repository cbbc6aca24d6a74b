// The package-name rule: whatever the address and suffix, an accepted name stays directly
// inside Update\ and is a plain file name there.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/paths.h"
#include "base/text.h"
#include "model/addresses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  const std::u16string input = Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  const std::size_t split = input.find(u'\t');  // the suffix after a tab
  const auto name = PackageFileName(input.substr(0, split),
                                    split == std::u16string::npos ? u"" : input.substr(split + 1));
  if (!name) return 0;
  const std::u16string folder = u"C:\\App\\Update";
  if (name->empty() || name->find_first_of(u"\\/:") != std::u16string::npos ||
      name->back() == u'.' || name->back() == u' ' ||
      !IsInsideFolder(folder + u"\\" + *name, folder)) {
    std::abort();
  }
  return 0;
}
