// File services on Windows, by UTF-16 path.
#include "platform/files.h"
#include "platform/win32.h"

namespace sealupdate {

struct InputFile::Impl {
  win::UniqueFileHandle file;
};

InputFile::InputFile(std::unique_ptr<Impl> impl, std::uint64_t size)
    : impl_(std::move(impl)), size_(size) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

std::optional<InputFile> InputFile::Open(const std::u16string& path) {
  auto impl = std::make_unique<Impl>();
  impl->file.reset(CreateFileW(win::Wide(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!impl->file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(impl->file.get(), &size) || size.QuadPart < 0) return std::nullopt;
  return InputFile(std::move(impl), static_cast<std::uint64_t>(size.QuadPart));
}

bool InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset > size_ || length > size_ - offset) return false;
  auto* out = static_cast<char*>(buffer);
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD got = 0;
    if (!ReadFile(impl_->file.get(), out, chunk, &got, &at) || got == 0) return false;
    out += got;
    offset += got;
    length -= got;
  }
  return true;
}

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  win::UniqueFileHandle file(CreateFileW(win::Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool PathExists(const std::u16string& path) {
  return GetFileAttributesW(win::Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::u16string GetOwnExePath() {
  // The buffer grows until the whole path fits: no 260- or 255-character limit.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return win::FromWide(buffer);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool CreateFolderTree(const std::u16string& folder) {
  const std::wstring path = win::Wide(folder);
  // Create each missing folder from the top; the parts that cannot be created (a drive, the
  // server and share of a UNC path) must already exist, which the final check tells.
  for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    if (at == 0 || path[at - 1] == L':' || path[at - 1] == L'\\') continue;
    const std::wstring part = path.substr(0, at);
    if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES) {
      CreateDirectoryW(part.c_str(), nullptr);
    }
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace sealupdate
