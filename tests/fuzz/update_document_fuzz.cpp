// The update document reader on arbitrary answers: nothing may crash, and an accepted document
// always carries a version with a digit. Package names: package_name_fuzz.cpp.
#include <cstdlib>

#include "model/update_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto document =
      sealupdate::ParseUpdateDocument({reinterpret_cast<const char*>(data), size});
  if (document && document->version.find_first_of(u"0123456789") == std::u16string::npos)
    std::abort();
  return 0;
}
