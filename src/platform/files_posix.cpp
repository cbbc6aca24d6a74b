// File services for the native build: "\\" paths mapped onto POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

std::string NativePath(const std::u16string& path) {
  std::string out = Utf16ToUtf8(path);
  for (auto& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

}  // namespace

struct InputFile::Impl {
  int fd = -1;
  ~Impl() {
    if (fd >= 0) ::close(fd);
  }
};

InputFile::InputFile(std::unique_ptr<Impl> impl, std::uint64_t size)
    : impl_(std::move(impl)), size_(size) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

std::optional<InputFile> InputFile::Open(const std::u16string& path) {
  auto impl = std::make_unique<Impl>();
  impl->fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (impl->fd < 0) return std::nullopt;
  struct stat st {};
  if (::fstat(impl->fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return InputFile(std::move(impl), static_cast<std::uint64_t>(st.st_size));
}

bool InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset > size_ || length > size_ - offset) return false;
  auto* out = static_cast<char*>(buffer);
  while (length > 0) {
    const ssize_t n = ::pread(impl_->fd, out, length, static_cast<off_t>(offset));
    if (n <= 0) return false;
    out += n;
    offset += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n <= 0) {
      ok = false;
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return ::close(fd) == 0 && ok;
}

bool PathExists(const std::u16string& path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0;
}

std::u16string GetOwnExePath() {
  std::string buffer(PATH_MAX, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0) return {};
  buffer.resize(static_cast<std::size_t>(n));
  return Utf8ToUtf16(buffer);
}

bool CreateFolderTree(const std::u16string& folder) {
  std::string path = Utf16ToUtf8(folder);
  for (auto& c : path) {
    if (c == '\\') c = '/';
  }
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0755);  // an existing folder is fine; checked below
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CanWriteInFolder(const std::u16string& folder) {
  const bool ends = !folder.empty() && (folder.back() == u'\\' || folder.back() == u'/');
  if (!CreateFolderTree(ends ? folder : folder + u"\\")) return false;
  const std::string probe = NativePath(folder + u"\\sealupdate-write-test.tmp");
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

void RemoveAllBut(const std::u16string& folder, const std::vector<std::u16string>& keep) {
  std::error_code error;
  const std::filesystem::path base(NativePath(folder));
  std::vector<std::filesystem::path> doomed;
  for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
    const std::u16string name = Utf8ToUtf16(entry.path().filename().string());
    bool kept = false;
    for (const std::u16string& k : keep) kept = kept || EqualsIgnoreCase(name, k);
    if (!kept) doomed.push_back(entry.path());
  }
  for (const auto& path : doomed) std::filesystem::remove_all(path, error);  // links not followed
}

std::u16string LocalAppDataFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && *data) return Utf8ToUtf16(data);
  const char* home = std::getenv("HOME");
  return home && *home ? Utf8ToUtf16(std::string(home) + "/.local/share") : std::u16string();
}

std::u16string LongPathOf(const std::u16string& path) { return path; }

}  // namespace sealupdate
