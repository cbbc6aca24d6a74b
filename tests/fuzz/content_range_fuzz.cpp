// Content-Range: whatever a server sends, an accepted range lies inside its total.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "download/url_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  const auto range =
      ParseContentRange(Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size)));
  if (range && (range->first > range->last || range->last >= range->total)) std::abort();
  return 0;
}
