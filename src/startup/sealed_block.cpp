// Finding and reading the sealed block at the end of the client's own executable.
#include "startup/sealed_block.h"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace sealupdate {

std::int64_t ParseLengthField(std::string_view tenBytes) {
  std::u16string text = AnsiToUtf16(tenBytes);
  text.erase(std::remove_if(text.begin(), text.end(),
                            [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }),
             text.end());
  const double value = ParseLeadingNumber(u"&H" + text);
  // Written this way round so that a NaN also means no block.
  if (!(value > 0 && value <= std::numeric_limits<std::int32_t>::max())) return 0;
  return static_cast<std::int64_t>(value);
}

namespace {

std::uint32_t Little(const unsigned char* p, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes; i-- > 0;) value = value << 8 | p[i];
  return value;
}

}  // namespace

namespace {

// Offsets of a PE file's CheckSum and certificate-table directory entry, and that entry.
struct PeHeaders {
  std::uint64_t checksum = 0;
  std::uint64_t directoryEntry = 0;
  std::uint32_t tableOffset = 0;
  std::uint32_t tableSize = 0;
};

std::optional<PeHeaders> ReadPeHeaders(ByteView& file) {
  const std::uint64_t size = file.Size();
  unsigned char dos[64];
  if (size < sizeof dos || !file.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
    return std::nullopt;
  }
  const std::uint64_t nt = Little(dos + 0x3C, 4);
  // Signature, file header, and a PE32+ optional header up to the end of data directory 4.
  constexpr std::size_t kFileHeader = 4 + 20;
  unsigned char headers[kFileHeader + 112 + 5 * 8];
  if (nt >= size) return std::nullopt;
  const std::size_t available =
      static_cast<std::size_t>(std::min<std::uint64_t>(sizeof headers, size - nt));
  if (available < kFileHeader + 2 || !file.ReadAt(nt, headers, available) ||
      Little(headers, 4) != 0x00004550) {  // "PE\0\0"
    return std::nullopt;
  }
  const std::uint32_t optionalSize = Little(headers + 4 + 16, 2);
  const unsigned char* optional = headers + kFileHeader;
  const std::uint32_t magic = Little(optional, 2);
  if (magic != 0x10B && magic != 0x20B) return std::nullopt;
  const std::size_t directories = magic == 0x20B ? 112 : 96;
  const std::size_t entry = directories + 4 * 8;
  if (optionalSize < entry + 8 || available < kFileHeader + entry + 8) return std::nullopt;
  PeHeaders pe;
  pe.checksum = nt + kFileHeader + 64;
  pe.directoryEntry = nt + kFileHeader + entry;
  if (Little(optional + directories - 4, 4) >= 5) {  // NumberOfRvaAndSizes
    pe.tableOffset = Little(optional + entry, 4);
    pe.tableSize = Little(optional + entry + 4, 4);
  }
  return pe;
}

}  // namespace

std::optional<std::uint64_t> PeChecksumOffset(ByteView& file) {
  const std::optional<PeHeaders> pe = ReadPeHeaders(file);
  if (!pe) return std::nullopt;
  return pe->checksum;
}

std::optional<CertificateTable> FindTrailingCertificateTable(ByteView& file) {
  const std::optional<PeHeaders> pe = ReadPeHeaders(file);
  if (!pe || pe->tableOffset == 0 || pe->tableSize == 0 ||
      pe->tableOffset < pe->directoryEntry + 8 ||
      std::uint64_t{pe->tableOffset} + pe->tableSize != file.Size()) {
    return std::nullopt;
  }
  return CertificateTable{pe->tableOffset, pe->tableSize, pe->directoryEntry, pe->checksum};
}

std::uint64_t SealedTrailerEnd(ByteView& file, std::int32_t tailLength) {
  const std::optional<CertificateTable> table = FindTrailingCertificateTable(file);
  if (!table) return file.Size();
  const std::uint64_t tail = tailLength < 0 ? 0 : static_cast<std::uint64_t>(tailLength);
  unsigned char window[8];
  if (table->offset < tail + sizeof window ||
      !file.ReadAt(table->offset - tail - sizeof window, window, sizeof window)) {
    return table->offset;
  }
  // Zero bytes right before the tail's place are padding: the field ends in a hex digit.
  std::uint64_t padding = 0;
  while (padding + 1 < sizeof window && window[sizeof window - 1 - padding] == 0) ++padding;
  return table->offset - padding;
}

std::vector<std::uint8_t> ReadSealedBlock(ByteView& file, std::int32_t tailLength) {
  if (tailLength < 0) return {};
  const std::uint64_t size = SealedTrailerEnd(file, tailLength);
  const std::uint64_t trailer = kSealLengthFieldSize + static_cast<std::uint64_t>(tailLength);
  if (size < trailer) return {};
  char field[kSealLengthFieldSize];
  if (!file.ReadAt(size - trailer, field, sizeof field)) return {};
  const std::int64_t value = ParseLengthField(std::string_view(field, sizeof field));
  if (value <= 0) return {};
  // A length that reaches before the start of the file names no block; checked before
  // allocating, so a forged length never costs memory.
  const std::uint64_t blockLength = static_cast<std::uint64_t>(value) + 1;
  if (blockLength > size - trailer) return {};
  try {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(blockLength));
    if (!file.ReadAt(size - trailer - blockLength, block.data(), block.size())) return {};
    return block;
  } catch (const std::bad_alloc&) {
    return {};
  }
}

std::vector<std::uint8_t> ReadSealedBlock(const std::u16string& path, std::int32_t tailLength) {
  std::optional<InputFile> file = InputFile::Open(path);
  if (!file) return {};
  return ReadSealedBlock(*file, tailLength);
}

std::string MakeSealedTrailer(const std::vector<std::uint8_t>& block) {
  // B - 1 in upper-case hex, right-aligned in blanks.
  std::string field(kSealLengthFieldSize, ' ');
  std::uint64_t value = block.empty() ? 0 : block.size() - 1;
  for (std::size_t i = kSealLengthFieldSize; i-- > 0;) {
    field[i] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
    if (value == 0) break;
  }
  std::string out(block.begin(), block.end());
  out += field;
  out.append(static_cast<std::size_t>(kSealTailLength), '\0');
  return out;
}

std::uint32_t PeChecksum(std::string_view image, std::uint64_t checksumOffset) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); i += 2) {
    if (i >= checksumOffset && i < checksumOffset + 4) continue;
    std::uint32_t word = static_cast<unsigned char>(image[i]);
    if (i + 1 < image.size())
      word |= static_cast<std::uint32_t>(static_cast<unsigned char>(image[i + 1])) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + image.size());
}

}  // namespace sealupdate
