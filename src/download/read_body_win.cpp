// The body of one read, in memory or on disk, and the finished file the reader hands over.
#include "download/read_body_win.h"

#include <memory>
#include <utility>
#include <vector>

#include "download/partial_download.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

// Reads of the bytes an earlier run left, to hash them.
constexpr DWORD kHashBufferSize = 256 * 1024;

TransferError FileError(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return {TransferFailure::kAccessDenied, code};
    case ERROR_PATH_NOT_FOUND:
      return {TransferFailure::kPathNotFound, code};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return {TransferFailure::kDiskFull, code};
    default:
      return {TransferFailure::kFileAccess, code};
  }
}

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool WriteAll(HANDLE file, const char* data, DWORD size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

// A finished file body, deleted unless it is moved onto its save path, where it is then held.
class TempFile final : public DownloadedFile {
 public:
  TempFile(std::wstring path, std::uint64_t size, std::optional<Sha256Digest> digest,
           FileIdentity identity, bool carried)
      : path_(std::move(path)),
        size_(size),
        digest_(digest),
        identity_(identity),
        carried_(carried) {}
  bool CarriedOver() const override { return carried_; }
  ~TempFile() override {
    input_.reset();
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  std::uint64_t Size() const override { return size_; }
  std::optional<Sha256Digest> Digest() const override { return digest_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (path_.empty()) return false;
    if (!input_) input_ = InputFile::Open(win::FromWide(path_));
    return input_ && input_->ReadAt(offset, buffer, length);
  }
  TransferError MoveTo(const std::u16string& savePath) override {
    input_.reset();
    const std::wstring target = win::Wide(savePath);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return TransferFailure::kFileAccess;  // a save path without a file name
    }
    if (!MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return FileError(GetLastError());
    }
    path_.clear();
    // Held from here until the shell has opened it: nobody may write, rename or delete it.
    held_.reset(CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held_) return FileError(GetLastError());
    LARGE_INTEGER size{};
    const std::optional<FileIdentity> now = IdentityOf(held_.get());
    if (!now || !(*now == identity_) || !GetFileSizeEx(held_.get(), &size) ||
        static_cast<std::uint64_t>(size.QuadPart) != size_) {
      // Another file took the body's place between the move and the lock: it is not ours.
      held_.reset();
      DeleteFileW(target.c_str());
      return TransferFailure::kPackageMismatch;
    }
    return {};
  }

 private:
  std::wstring path_;
  std::uint64_t size_;
  std::optional<Sha256Digest> digest_;
  FileIdentity identity_;
  std::optional<InputFile> input_;
  win::UniqueFileHandle held_;
  bool carried_;
};

}  // namespace

ReadBody::ReadBody(const std::u16string& savePath, std::uint64_t readId, bool hash) : hash_(hash) {
  if (savePath.empty()) return;
  // Beside the save path, so the final move stays on one volume.
  const std::wstring save = win::Wide(savePath);
  partPath_ = save + L".part";
  recordPath_ = partPath_ + L".info";
  privatePath_ = save + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                 std::to_wstring(readId) + L".part";
}

bool ReadBody::MayContinue() const { return sealupdate::MayContinue(validator_, read_, total_); }

bool ReadBody::SetDeleteOnClose(bool remove) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  if (!SetFileInformationByHandle(file_.get(), FileDispositionInfo, &disposition,
                                  sizeof disposition)) {
    return false;
  }
  deleteOnClose_ = remove;
  return true;
}

TransferError ReadBody::Open(const std::u16string& url, bool& resumed) {
  resumed = false;
  file_.reset(CreateFileW(partPath_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file_) {
    path_ = partPath_;
    resumed = LoadPartial(url);
  } else {
    // Another run holds the partial body: this one reads into a private file.
    file_.reset(CreateFileW(privatePath_.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file_) return FileError(GetLastError());
    path_ = privatePath_;
  }
  // Until it has a record, the file goes when its handle closes, whatever the reason (a failure,
  // a cancelled read, the process ending mid-read with the reading thread abandoned).
  if (!resumed) SetDeleteOnClose(true);
  return {};
}

// Takes up the body at the partial path when its record allows it (MayResumePartial) and every
// byte of it can be hashed; otherwise empties the file and removes its record.
bool ReadBody::LoadPartial(const std::u16string& url) {
  const std::optional<std::string> text = ReadWholeFile(win::FromWide(recordPath_));
  const std::optional<PartialRecord> record = text ? ParsePartialRecord(*text) : std::nullopt;
  LARGE_INTEGER size{};
  if (record && GetFileSizeEx(file_.get(), &size) &&
      MayResumePartial(*record, url, static_cast<std::uint64_t>(size.QuadPart))) {
    const auto have = static_cast<std::uint64_t>(size.QuadPart);
    std::uint64_t hashed = 0;
    if (hash_) {
      hasher_.emplace();
      std::vector<char> buffer(kHashBufferSize);
      for (DWORD got = 0;
           ReadFile(file_.get(), buffer.data(), kHashBufferSize, &got, nullptr) && got > 0;) {
        hasher_->Update(buffer.data(), got);
        hashed += got;
      }
    }
    LARGE_INTEGER end{};
    if ((!hash_ || hashed == have) && SetFilePointerEx(file_.get(), end, nullptr, FILE_END)) {
      validator_ = record->validator;
      total_ = record->total;
      read_ = have;
      resumable_ = true;
      carried_ = true;
      return true;
    }
  }
  DeleteFileW(recordPath_.c_str());
  Restart();  // a failure shows again when the first attempt empties the body
  return false;
}

TransferError ReadBody::Restart() {
  read_ = 0;
  total_ = 0;
  memory_.clear();
  validator_.clear();
  carried_ = false;
  if (InMemory()) return {};
  if (hash_) hasher_.emplace();
  // An empty file is left as it is: on ext4 (Wine on Linux) a file once truncated to zero is
  // flushed to disk when it is closed, which holds the finished download up by about 0.3 ms a
  // MiB.
  LARGE_INTEGER size{};
  const LARGE_INTEGER zero{};
  if (!GetFileSizeEx(file_.get(), &size) ||
      !SetFilePointerEx(file_.get(), zero, nullptr, FILE_BEGIN) ||
      (size.QuadPart > 0 && !SetEndOfFile(file_.get()))) {
    return FileError(GetLastError());
  }
  return {};
}

TransferError ReadBody::Admit(std::uint64_t total) const {
  if (InMemory() && total > kMaxMemoryBody) return TransferFailure::kBodyTooLarge;
  return {};
}

TransferError ReadBody::StartWhole(const std::u16string& url, std::uint64_t total,
                                   const std::u16string& validator) {
  if (const TransferError error = Restart()) return error;
  // Without a length no rest can be asked for, so the validator would serve nothing.
  validator_ = total > 0 ? validator : std::u16string();
  total_ = total;
  if (path_ != partPath_ || InMemory()) return {};  // a private file is never kept
  // With a record the body outlives its handle; without one it goes when the handle closes.
  const std::optional<std::string> record =
      validator_.empty() ? std::nullopt : FormatPartialRecord({url, validator_, total});
  const bool keep = record && WriteWholeFile(win::FromWide(recordPath_), *record);
  if (!keep) DeleteFileW(recordPath_.c_str());
  if (SetDeleteOnClose(!keep)) resumable_ = keep;
  return {};
}

TransferError ReadBody::Append(const char* data, DWORD size) {
  const std::uint64_t read = read_ + size;
  if (InMemory()) {
    if (read > kMaxMemoryBody) return TransferFailure::kBodyTooLarge;
    memory_.append(data, size);
  } else if (!WriteAll(file_.get(), data, size)) {
    return FileError(GetLastError());
  }
  if (hasher_) hasher_->Update(data, size);
  read_ = read;
  return {};
}

TransferError ReadBody::Finish() {
  if (InMemory()) return {};
  const std::optional<FileIdentity> written = IdentityOf(file_.get());
  if (!written) return FileError(GetLastError());
  identity_ = *written;
  if (hasher_) digest_ = hasher_->Finish();
  resumable_ = false;  // whole: the next step moves it onto the save path or deletes it
  if (path_ == partPath_) DeleteFileW(recordPath_.c_str());
  if (deleteOnClose_ && !SetDeleteOnClose(false)) return TransferFailure::kFileAccess;
  return {};
}

void ReadBody::DeleteFiles(bool cancelled) const {
  if (path_.empty() || (cancelled && resumable_)) return;
  DeleteFileW(path_.c_str());
  if (path_ == partPath_) DeleteFileW(recordPath_.c_str());
}

void ReadBody::Deliver(ReadResult& result) {
  if (InMemory()) {
    result.body = std::move(memory_);
  } else {
    result.file = std::make_unique<TempFile>(path_, read_, digest_, identity_, carried_);
  }
}

}  // namespace sealupdate
