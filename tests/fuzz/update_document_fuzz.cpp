// The update document reader on arbitrary answers. Nothing may crash, an accepted document
// always carries a version with a digit, and no package name derived from it can leave the
// package folder.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/addresses.h"
#include "model/update_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  const auto document = ParseUpdateDocument({reinterpret_cast<const char*>(data), size});
  if (!document) return 0;
  if (document->version.find_first_of(u"0123456789") == std::u16string::npos) std::abort();
  for (const std::u16string& url : document->downloadUrls) {
    const auto name = PackageFileName(url, document->modifySuffix);
    if (name && (name->empty() || *name == u"." || *name == u".." ||
                 name->find_first_of(u"\\/:") != std::u16string::npos)) {
      std::abort();
    }
  }
  return 0;
}
