// Bounded reads from memory and from any byte view.
#include "base/byte_reader.h"

#include <cstring>

namespace sealupdate {

bool MemoryByteView::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  // Written so that offset + length cannot wrap around.
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  if (length > 0) std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

std::optional<std::string> ReadBytes(ByteView& view, std::uint64_t offset, std::size_t length) {
  const std::uint64_t size = view.Size();
  if (offset > size || length > size - offset) return std::nullopt;
  std::string bytes(length, '\0');
  if (length > 0 && !view.ReadAt(offset, bytes.data(), length)) return std::nullopt;
  return bytes;
}

}  // namespace sealupdate
