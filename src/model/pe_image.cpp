// Reading a PE image's headers and sections, bounds-checked against the file.
#include "model/pe_image.h"

#include <algorithm>
#include <utility>

namespace sealupdate {
namespace {

constexpr std::uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr std::uint64_t kNtHeadersAt = 0x3C;    // e_lfanew, the DOS header's last field
constexpr std::size_t kFileHeaderEnd = 4 + 20;  // "PE\0\0" and the file header
constexpr std::size_t kSectionEntry = 40;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;

// Bytes of a section's virtual range: the loader maps the raw data even past a smaller
// VirtualSize.
std::uint64_t Extent(const PeSection& s) { return std::max(s.virtualSize, s.rawSize); }

}  // namespace

std::optional<PeImage> PeImage::Read(ByteView& file) {
  // The 4-byte field at 0x3C ends the 64-byte DOS header, so reading it proves the header whole.
  const std::optional<std::uint32_t> ntAt = ReadLittle<std::uint32_t>(file, kNtHeadersAt);
  if (!ntAt || ReadLittle<std::uint16_t>(file, 0) != kDosMagic) return std::nullopt;
  const std::optional<std::string> head = ReadBytes(file, *ntAt, kFileHeaderEnd);
  if (!head || head->compare(0, 4, "PE\0\0", 4) != 0) return std::nullopt;

  PeImage image(file);
  image.sectionCount_ = ReadLittle<std::uint16_t>(*head, 6).value_or(0);
  image.optionalSize_ = ReadLittle<std::uint16_t>(*head, 20).value_or(0);
  image.optionalOffset_ = std::uint64_t{*ntAt} + kFileHeaderEnd;
  const std::uint64_t size = file.Size();
  const std::uint64_t inFile = size > image.optionalOffset_ ? size - image.optionalOffset_ : 0;
  std::optional<std::string> optional =
      ReadBytes(file, image.optionalOffset_,
                static_cast<std::size_t>(std::min<std::uint64_t>(image.optionalSize_, inFile)));
  if (!optional) return std::nullopt;
  image.optional_ = std::move(*optional);
  const std::optional<std::uint16_t> magic = ReadLittle<std::uint16_t>(image.optional_, 0);
  if (magic != kPe32 && magic != kPe32Plus) return std::nullopt;
  image.pe32Plus_ = magic == kPe32Plus;

  const std::optional<std::string> table =
      ReadBytes(file, image.optionalOffset_ + image.optionalSize_,
                std::size_t{image.sectionCount_} * kSectionEntry);
  if (table) {
    std::vector<PeSection>& sections = image.sections_.emplace();
    sections.reserve(image.sectionCount_);
    for (std::size_t at = 0; at < table->size(); at += kSectionEntry) {
      const auto field = [&](std::size_t offset) {
        return ReadLittle<std::uint32_t>(*table, at + offset).value_or(0);
      };
      sections.push_back({field(8), field(12), field(16), field(20)});
    }
  }
  return image;
}

std::optional<std::uint32_t> PeImage::OptionalField(std::size_t at) const {
  return ReadLittle<std::uint32_t>(optional_, at);
}

std::optional<std::uint32_t> PeImage::SizeOfHeaders() const { return OptionalField(60); }

std::optional<std::uint64_t> PeImage::ChecksumOffset() const {
  constexpr std::size_t kChecksumAt = 64;  // the same in PE32 and PE32+
  if (!OptionalField(kChecksumAt)) return std::nullopt;
  return optionalOffset_ + kChecksumAt;
}

std::optional<PeDirectory> PeImage::Directory(std::size_t index) const {
  const std::size_t countAt = pe32Plus_ ? 108 : 92;  // NumberOfRvaAndSizes
  const std::size_t entryAt = countAt + 4 + 8 * index;
  const std::optional<std::uint32_t> count = OptionalField(countAt);
  const std::optional<std::uint32_t> address = OptionalField(entryAt);
  const std::optional<std::uint32_t> size = OptionalField(entryAt + 4);
  if (!count || *count <= index || !address || !size) return std::nullopt;
  return PeDirectory{*address, *size, optionalOffset_ + entryAt};
}

const PeSection* PeImage::SectionAt(std::uint64_t rva) const {
  if (!sections_) return nullptr;
  for (const PeSection& s : *sections_) {
    if (rva >= s.virtualAddress && rva - s.virtualAddress < Extent(s)) return &s;
  }
  return nullptr;
}

std::uint64_t PeImage::AvailableAt(std::uint64_t rva) const {
  const PeSection* s = SectionAt(rva);
  return s ? Extent(*s) - (rva - s->virtualAddress) : 0;
}

std::optional<std::string> PeImage::ReadRva(std::uint64_t rva, std::size_t length) const {
  const PeSection* s = SectionAt(rva);
  if (!s) return std::nullopt;
  const std::uint64_t within = rva - s->virtualAddress;
  if (length > Extent(*s) - within) return std::nullopt;
  const std::uint64_t raw = within < s->rawSize ? s->rawSize - within : 0;
  const std::size_t fromFile = static_cast<std::size_t>(std::min<std::uint64_t>(length, raw));
  std::string bytes(length, '\0');  // what lies past the raw data reads as zeros
  if (fromFile > 0 && !file_->ReadAt(std::uint64_t{s->rawOffset} + within, bytes.data(), fromFile))
    return std::nullopt;
  return bytes;
}

bool IsCompletePeImage(ByteView& file) {
  const std::optional<PeImage> image = PeImage::Read(file);
  if (!image || image->SectionCount() == 0) return false;
  // Absent when the optional header, declared or in the file, stops before it.
  const std::optional<std::uint32_t> headers = image->SizeOfHeaders();
  if (!headers || *headers > file.Size() || !image->Sections()) return false;
  for (const PeSection& s : *image->Sections()) {
    if (s.rawSize > 0 && std::uint64_t{s.rawOffset} + s.rawSize > file.Size()) return false;
  }
  return true;
}

std::optional<CertificateTable> FindTrailingCertificateTable(ByteView& file) {
  const std::optional<PeImage> image = PeImage::Read(file);
  const std::optional<PeDirectory> entry =
      image ? image->Directory(kPeCertificateDirectory) : std::nullopt;
  if (!entry || entry->address == 0 || entry->size == 0 ||
      entry->address < entry->entryOffset + 8 ||
      std::uint64_t{entry->address} + entry->size != file.Size()) {
    return std::nullopt;
  }
  return CertificateTable{entry->address, entry->size, entry->entryOffset};
}

std::uint32_t PeChecksum(std::string_view image, std::uint64_t checksumOffset) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    if (i >= checksumOffset && i < checksumOffset + 4) continue;
    sum += ReadLittle<std::uint16_t>(image, i).value_or(static_cast<unsigned char>(image[i]));
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}

}  // namespace sealupdate
