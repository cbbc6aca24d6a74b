// Bounded reads of untrusted bytes: the read-only view every parser reads through, and the one
// little-endian number reader, each read checked against the end of the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace sealupdate {

// A bounded, read-only view of some bytes (a file, a download, a buffer): a parser reads nothing
// it has not asked for here.
class ByteView {
 public:
  virtual ~ByteView() = default;
  virtual std::uint64_t Size() const = 0;
  // Exactly `length` bytes at `offset`; false when they do not all lie inside the view.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;

 protected:
  ByteView() = default;
  ByteView(const ByteView&) = default;
  ByteView& operator=(const ByteView&) = default;
};

// A view of bytes held in memory; they must outlive it.
class MemoryByteView final : public ByteView {
 public:
  explicit MemoryByteView(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  std::string_view bytes_;
};

// `length` bytes at `offset`; nullopt when they do not all lie inside the view. The length is
// checked against the view before anything is allocated, so a forged length costs no memory.
std::optional<std::string> ReadBytes(ByteView& view, std::uint64_t offset, std::size_t length);

// The little-endian unsigned number of type T (std::uint16_t, std::uint32_t, std::uint64_t) at
// `offset`; nullopt when any of its bytes lies outside.
template <typename T>
std::optional<T> ReadLittle(std::string_view bytes, std::uint64_t offset) {
  static_assert(std::is_unsigned_v<T> && sizeof(T) <= 8, "an unsigned number of 8 bytes at most");
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
  T value = 0;
  for (std::size_t i = sizeof(T); i-- > 0;) {
    value = static_cast<T>(static_cast<std::uint64_t>(value) << 8 |
                           static_cast<unsigned char>(bytes[offset + i]));
  }
  return value;
}

template <typename T>
std::optional<T> ReadLittle(ByteView& view, std::uint64_t offset) {
  char bytes[sizeof(T)];
  if (!view.ReadAt(offset, bytes, sizeof bytes)) return std::nullopt;
  return ReadLittle<T>(std::string_view(bytes, sizeof bytes), 0);
}

}  // namespace sealupdate
