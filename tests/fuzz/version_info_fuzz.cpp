// The version reader on arbitrary bytes as a PE image and as a bare resource: no crash or read
// outside the input, never an invented file name, path or size, a NUL inside a value or a version
// not of four numbers; the image's checksum field and certificate table lie inside the input.
#include <algorithm>
#include <cstdlib>

#include "model/pe_image.h"
#include "model/version_info.h"

static void CheckRecord(const sealupdate::VersionInfo& i) {
  const std::u16string& v = i.fileVersion;
  for (const std::u16string* s : {&i.fileDescription, &i.productName, &i.originalFilename,
                                  &i.internalName, &i.companyName, &i.legalCopyright})
    if (s->find(u'\0') != std::u16string::npos) std::abort();
  if ((!v.empty() && (v.find_first_not_of(u"0123456789.") != std::u16string::npos ||
                      std::count(v.begin(), v.end(), u'.') != 3)) ||
      !i.fileName.empty() || !i.filePath.empty() || i.fileSize != 0)
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  sealupdate::VersionInfo bare, info;
  sealupdate::ReadVersionResource(bytes, bare);
  CheckRecord(bare);
  sealupdate::MemoryByteView image(bytes);
  sealupdate::IsCompletePeImage(image);
  const auto pe = sealupdate::PeImage::Read(image);
  const auto checksum = pe ? pe->ChecksumOffset() : std::nullopt;
  const auto table = sealupdate::FindTrailingCertificateTable(image);
  if ((checksum && *checksum + 4 > size) ||
      (table && (table->offset + table->size != size || table->offset < table->directoryEntry + 8)))
    std::abort();
  if (const auto resource = sealupdate::FindVersionResource(image)) {
    if (resource->empty() || resource->size() > 0x10000) std::abort();
    sealupdate::ReadVersionResource(*resource, info);
    CheckRecord(info);
  }
  return 0;
}
