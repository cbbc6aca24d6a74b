// The partial-download record: a record that is read writes back to exactly the same bytes, so
// nothing but what the reader wrote can steer a resume; a whole body has nothing to continue.
#include <cstdlib>

#include "download/partial_download.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto record = ParsePartialRecord(text);
  if (record && (FormatPartialRecord(*record) != std::optional<std::string>(text) ||
                 MayResumePartial(*record, record->url, record->total)))
    std::abort();
  return 0;
}
