// Any answer: no crash, and an accepted document's version has a digit (names: package_name_fuzz).
#include <cstdlib>

#include "model/update_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto document =
      sealupdate::ParseUpdateDocument({reinterpret_cast<const char*>(data), size});
  if (document && document->version.find_first_of(u"0123456789") == std::u16string::npos)
    std::abort();
  return 0;
}
