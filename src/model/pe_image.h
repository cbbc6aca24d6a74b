// The one reader of PE images (PE32 and PE32+): DOS and NT headers, the optional header and its
// data directories, the section table, reads by virtual address, and the checks and the checksum
// built on them. Every offset and length taken from the file is checked before use: a malformed
// file gives nothing, never a read outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"

namespace sealupdate {

// One entry of the section table.
struct PeSection {
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t rawSize = 0;    // SizeOfRawData
  std::uint32_t rawOffset = 0;  // PointerToRawData
};

// One entry of the optional header's data directories.
struct PeDirectory {
  std::uint32_t address = 0;  // a virtual address; the certificate table's is a file offset
  std::uint32_t size = 0;
  std::uint64_t entryOffset = 0;  // file offset of the 8-byte entry itself
};

constexpr std::size_t kPeResourceDirectory = 2;
constexpr std::size_t kPeCertificateDirectory = 4;

// The headers of an image and reads through its section table. It reads the view it was made
// from, which must outlive it.
class PeImage {
 public:
  // nullopt unless the view starts with a DOS header ("MZ", 64 bytes) pointing at NT headers
  // ("PE\0\0" and the file header) inside it, followed by an optional header whose magic says
  // PE32 or PE32+.
  static std::optional<PeImage> Read(ByteView& file);

  bool IsPe32Plus() const { return pe32Plus_; }
  // As the file header declares them.
  std::uint16_t SectionCount() const { return sectionCount_; }
  std::uint16_t OptionalHeaderSize() const { return optionalSize_; }

  // These are nullopt when the optional header, as declared or as far as the file holds it,
  // stops before the field.
  std::optional<std::uint32_t> SizeOfHeaders() const;
  std::optional<std::uint64_t> ChecksumOffset() const;  // file offset of the CheckSum field
  // Also nullopt when NumberOfRvaAndSizes does not reach `index`.
  std::optional<PeDirectory> Directory(std::size_t index) const;

  // The section table behind the optional header; nullptr when it does not lie wholly inside
  // the file.
  const std::vector<PeSection>* Sections() const { return sections_ ? &*sections_ : nullptr; }

  // Bytes addressable from the virtual address `rva` inside its section; 0 when no section
  // holds it.
  std::uint64_t AvailableAt(std::uint64_t rva) const;
  // `length` bytes at the virtual address `rva` as the loader maps them: the section's raw data,
  // then zeros up to its virtual size. nullopt unless the range lies inside one section; checked
  // before anything is allocated.
  std::optional<std::string> ReadRva(std::uint64_t rva, std::size_t length) const;

 private:
  explicit PeImage(ByteView& file) : file_(&file) {}
  std::optional<std::uint32_t> OptionalField(std::size_t at) const;
  const PeSection* SectionAt(std::uint64_t rva) const;

  ByteView* file_;
  bool pe32Plus_ = false;
  std::uint16_t sectionCount_ = 0;
  std::uint16_t optionalSize_ = 0;
  std::uint64_t optionalOffset_ = 0;
  std::string optional_;  // the declared optional header's bytes that lie inside the file
  std::optional<std::vector<PeSection>> sections_;
};

// True when the bytes hold a whole PE image: DOS and NT headers, a 32- or 64-bit optional
// header, a section table and every section's raw data all lie inside them. A package cut short
// fails this; data appended after the last section is not covered.
bool IsCompletePeImage(ByteView& file);

// The attribute certificate table of a signed image (data directory 4), when it ends the file
// exactly.
struct CertificateTable {
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t directoryEntry = 0;  // file offset of the 8-byte data directory entry
};
// nullopt for anything else: no PE headers, no such directory entry, a table that starts before
// its own entry ends, or one that does not end the file (anything appended after signing hides
// it).
std::optional<CertificateTable> FindTrailingCertificateTable(ByteView& file);

// The PE checksum of an image whose CheckSum field lies at `checksumOffset` (that field counts
// as zero), as the loader and signers compute it.
std::uint32_t PeChecksum(std::string_view image, std::uint64_t checksumOffset);

}  // namespace sealupdate
