// Reading, hashing and writing files for the publisher's commands.
#include "tool_io.h"

#include <algorithm>
#include <ctime>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "base/text.h"
#include "model/document_trust.h"
#include "platform/files.h"

namespace sealupdate::tool {

std::optional<std::string> ReadFile(const std::string& path) {
  return ReadWholeFile(Utf8ToUtf16(path));
}

std::string PublicKeyText(const P256PublicKey& key) { return Utf16ToUtf8(FormatPublicKey(key)); }

bool CreateNewFile(const std::string& path, const std::string& bytes, bool ownerOnly) {
#ifdef _WIN32
  (void)ownerOnly;  // the new file inherits its folder's access list
  const std::u16string wide = Utf8ToUtf16(path);
  const int fd = _wopen(reinterpret_cast<const wchar_t*>(wide.c_str()),
                        _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  const auto write = [](int f, const char* p, std::size_t n) {
    return _write(f, p, static_cast<unsigned>(n)) == static_cast<int>(n);
  };
  const auto close = _close;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, ownerOnly ? 0600 : 0644);
  const auto write = [](int f, const char* p, std::size_t n) {
    return ::write(f, p, n) == static_cast<ssize_t>(n);
  };
  const auto close = ::close;
#endif
  if (fd < 0) return false;
  const bool written = write(fd, bytes.data(), bytes.size());
  return close(fd) == 0 && written;
}

// Size and SHA-256 of a file, read in pieces so a package of any size costs no memory.
std::optional<std::pair<std::uint64_t, Sha256Digest>> HashFile(const std::string& path) {
  std::optional<InputFile> file = InputFile::Open(Utf8ToUtf16(path));
  if (!file) return std::nullopt;
  Sha256 hash;
  std::vector<char> buffer(1 << 20);
  for (std::uint64_t at = 0; at < file->Size();) {
    const auto piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file->Size() - at));
    if (!file->ReadAt(at, buffer.data(), piece)) return std::nullopt;
    hash.Update(buffer.data(), piece);
    at += piece;
  }
  const std::optional<Sha256Digest> digest = hash.Finish();
  if (!digest) return std::nullopt;
  return std::make_pair(file->Size(), *digest);
}

std::string FormatUtc(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* utc = std::gmtime(&t);
  char text[32] = "";
  if (utc) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

}  // namespace sealupdate::tool
