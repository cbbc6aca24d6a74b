// The body of one read as it arrives, in memory or in a file beside the save path, up to the
// finished file the reader hands over.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "download/url_reader.h"
#include "platform/crypto.h"
#include "platform/win32.h"

namespace sealupdate {

// Which file a handle has open: a file renamed onto a path, or written anew, is another one.
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
  }
};

// A memory body (an update document) holds at most kMaxMemoryBody. A file body is written to
// SAVE.part beside the save path, which a later run may continue while its record
// (partial_download.h) says what it is, or to a file of this read's own when another run holds
// SAVE.part; it is hashed as it streams when asked. The owner calls everything under its lock,
// except Read, Total and DeleteFiles.
class ReadBody {
 public:
  // A memory body when `savePath` is empty; `readId` tells this read's private file apart.
  ReadBody(const std::u16string& savePath, std::uint64_t readId, bool hash);
  ReadBody(const ReadBody&) = delete;
  ReadBody& operator=(const ReadBody&) = delete;

  bool InMemory() const { return partPath_.empty(); }
  std::uint64_t Read() const { return read_; }
  std::uint64_t Total() const { return total_; }  // 0 when unknown
  const std::u16string& Validator() const { return validator_; }
  // Whether an attempt may ask for the rest of the bytes there (MayContinue).
  bool MayContinue() const;

  // File bodies, before the first attempt: opens the file. True in `resumed` when it continues
  // the body an earlier run left for `url`, and the next attempt may ask for the rest (the hash
  // is rebuilt over the bytes on disk); otherwise the body is empty.
  TransferError Open(const std::u16string& url, bool& resumed);
  // Empties the body.
  TransferError Restart();
  // Refuses an announced length beyond what a memory body may hold, before any byte is read.
  TransferError Admit(std::uint64_t total) const;
  // Replaces the body with a whole one of `total` bytes (0: unknown) told by `validator`; a file
  // body is recorded for later runs when both are known, and goes when its handle closes if not.
  TransferError StartWhole(const std::u16string& url, std::uint64_t total,
                           const std::u16string& validator);
  // Adds bytes after those there; past kMaxMemoryBody a memory body fails with kBodyTooLarge.
  TransferError Append(const char* data, DWORD size);
  // Once the body is whole: a file body is no longer for later runs and outlives its handle.
  TransferError Finish();
  // Closes the file; an unfinished one goes unless it has a record.
  void Close() { file_.reset(); }
  // After a failure or a cancel: deletes the file (and its record), except that a cancel keeps a
  // body with a record for the next run. Any thread may call it once nothing writes the body.
  void DeleteFiles(bool cancelled) const;
  // Drops a memory body that will not be delivered.
  void Release() { memory_ = std::string(); }
  // Hands the finished body to `result`: the bytes, or the file.
  void Deliver(ReadResult& result);

 private:
  bool SetDeleteOnClose(bool remove);
  bool LoadPartial(const std::u16string& url);

  std::wstring partPath_;  // empty for a memory body
  std::wstring recordPath_;
  std::wstring privatePath_;
  std::wstring path_;  // the file the body is in: partPath_ or privatePath_
  bool hash_ = false;
  win::UniqueFileHandle file_;
  bool deleteOnClose_ = false;          // the file's disposition, as last set
  std::atomic<bool> resumable_{false};  // the body on disk has a record: a cancel keeps both
  bool carried_ = false;                // the body begins with bytes an earlier run left
  std::optional<Sha256> hasher_;
  std::string memory_;
  std::atomic<std::uint64_t> read_{0};
  std::atomic<std::uint64_t> total_{0};
  std::u16string validator_;  // the ETag (else Last-Modified) of the body so far; empty: none
  std::optional<Sha256Digest> digest_;
  FileIdentity identity_;  // of the finished file, to tell it from a swapped one
};

}  // namespace sealupdate
