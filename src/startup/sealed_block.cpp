// Finding and reading the sealed block at the end of the client's own executable.
#include "startup/sealed_block.h"

#include <algorithm>
#include <limits>
#include <new>
#include <optional>

#include "base/text.h"
#include "model/pe_image.h"
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

}  // namespace sealupdate
