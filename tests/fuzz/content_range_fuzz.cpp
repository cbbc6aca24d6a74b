// Content-Range: whatever a server sends, an accepted range lies inside its total.
#include <cstdlib>

#include "base/text.h"
#include "download/url_policy.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto r = sealupdate::ParseContentRange(
      sealupdate::Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size)));
  if (r && (r->first > r->last || r->last >= r->total)) std::abort();
  return 0;
}
