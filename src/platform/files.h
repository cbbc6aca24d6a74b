// Byte-wise file access by UTF-16 path. Paths use "\" as the separator as on Windows; the native
// build maps it to "/".
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"

namespace sealupdate {

// A file opened for reading at explicit offsets; the parsers read it as any other byte view.
class InputFile final : public ByteView {
 public:
  static std::optional<InputFile> Open(const std::u16string& path);
  InputFile(InputFile&&) noexcept;
  InputFile& operator=(InputFile&&) noexcept;
  ~InputFile() override;

  std::uint64_t Size() const override { return size_; }
  // Reads exactly `length` bytes at `offset`; false when the file is shorter or the read fails.
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;

 private:
  struct Impl;
  InputFile(std::unique_ptr<Impl> impl, std::uint64_t size);
  std::unique_ptr<Impl> impl_;
  std::uint64_t size_ = 0;
};

std::optional<std::string> ReadWholeFile(const std::u16string& path);
// Creates or truncates the file and writes the bytes; false on any failure.
bool WriteWholeFile(const std::u16string& path, std::string_view bytes);
// True when something exists at the path (hidden files included).
bool PathExists(const std::u16string& path);

// Creates every missing folder along `folder` (which ends with "\"); true when it exists after.
bool CreateFolderTree(const std::u16string& folder);

// True when a new file can be created in `folder` (created first when missing, like
// CreateFolderTree): a probe file is created there and deleted at once. A read-only medium, a
// folder the user may not write or a file in the way all give false.
bool CanWriteInFolder(const std::u16string& folder);

// Deletes everything directly inside `folder` (files, and folders with their contents) whose
// name is not one of `keep` (compared without letter case). What cannot be deleted stays.
void RemoveAllBut(const std::u16string& folder, const std::vector<std::u16string>& keep);

// The user's local application data folder (Windows: the known folder LocalAppData, never the
// environment), without a final ""; empty when the system cannot say.
std::u16string LocalAppDataFolder();

// The long form of an existing path (Windows: short 8.3 names expanded); the path as given when
// the system cannot say.
std::u16string LongPathOf(const std::u16string& path);

// The file-system questions the update flow asks about where a package goes; a seam, so the
// flow's tests can answer them. The defaults ask the real file system.
class PackageFolders {
 public:
  virtual ~PackageFolders() = default;
  virtual bool CanWriteIn(const std::u16string& folder) { return CanWriteInFolder(folder); }
  virtual bool Exists(const std::u16string& path) { return PathExists(path); }
  virtual void KeepOnly(const std::u16string& folder, const std::vector<std::u16string>& names) {
    RemoveAllBut(folder, names);
  }
};

// Full path of the running executable (no length limit) and its folder (without the final "\").
std::u16string GetOwnExePath();
std::u16string FolderOf(std::u16string_view path);
std::u16string FileNameOf(std::u16string_view path);

}  // namespace sealupdate
