// The version reader on arbitrary bytes, both as a whole PE image and as a bare version
// resource. Nothing may crash or read outside the input, and what the reader fills in must keep
// its documented shape. Seeded with small PE files.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

#include "model/version_info.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckRecord(const sealupdate::VersionInfo& info) {
  // Each version empty, or `parts` dot-separated numbers of one to five digits.
  for (const auto& [text, parts] :
       {std::pair{&info.FileVersion, 4}, {&info.ProductVersion, 4}, {&info.StrucVersion, 2}}) {
    int dots = 0, digits = 0;
    for (const char16_t c : *text) {
      Check(c == u'.' ? digits > 0 : c >= u'0' && c <= u'9' && digits < 5);
      dots += c == u'.';
      digits = c == u'.' ? 0 : digits + 1;
    }
    Check(text->empty() || (digits > 0 && dots == parts - 1));
  }
  Check(info.FileFlags.size() <= 42);  // all six words
  for (const std::u16string* s : {&info.FileDescription, &info.ProductName, &info.OriginalFilename,
                                  &info.InternalName, &info.CompanyName, &info.LegalCopyright}) {
    Check(s->find(u'\0') == std::u16string::npos && s->size() < 0x8000);
  }
  Check(info.FileName.empty() && info.FilePath.empty() && info.FileSize == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  sealupdate::VersionInfo bare, info;
  sealupdate::ReadVersionResource(bytes, bare);
  CheckRecord(bare);
  sealupdate::MemoryByteView image(bytes);
  sealupdate::IsCompletePeImage(image);
  if (const auto resource = sealupdate::FindVersionResource(image)) {
    Check(!resource->empty() && resource->size() <= 0x10000);
    sealupdate::ReadVersionResource(*resource, info);
    CheckRecord(info);
  }
  return 0;
}
