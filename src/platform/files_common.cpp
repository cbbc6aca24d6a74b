// File services shared by both systems: path splitting.
#include "platform/files.h"

namespace sealupdate {

std::optional<std::string> ReadWholeFile(const std::u16string& path) {
  auto file = InputFile::Open(path);
  if (!file) return std::nullopt;
  if (file->Size() > SIZE_MAX / 2) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(file->Size()), '\0');
  if (!bytes.empty() && !file->ReadAt(0, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

std::u16string FolderOf(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  if (slash == std::u16string_view::npos) return {};
  return std::u16string(path.substr(0, slash));
}

std::u16string FileNameOf(std::u16string_view path) {
  const auto slash = path.find_last_of(u"\\/");
  return std::u16string(slash == std::u16string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace sealupdate
