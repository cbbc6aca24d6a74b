// libFuzzer target: the update document reader on arbitrary answers. Nothing may crash, an
// accepted document always carries a version with a digit, and no package name derived from it
// can leave the package folder.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/update_document.h"
#include "model/update_record.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto document = sealupdate::ParseUpdateDocument(bytes);
  if (!document) return 0;
  Check(std::any_of(document->version.begin(), document->version.end(),
                    [](char16_t c) { return c >= u'0' && c <= u'9'; }));
  for (const std::u16string& url : document->downloadUrls) {
    const auto name = sealupdate::PackageFileName(url, document->modifySuffix);
    if (!name) continue;
    Check(!name->empty() && *name != u"." && *name != u"..");
    Check(name->find_first_of(u"\\/:") == std::u16string::npos);
  }
  return 0;
}
