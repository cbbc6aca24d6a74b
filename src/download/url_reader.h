// The asynchronous URL reader seam under the download component. Every call and every
// notification happens on the user-interface thread; reads run in the background, told apart by
// their keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "download/transfer_error.h"
#include "model/update_document.h"
#include "platform/crypto.h"

namespace sealupdate {

// A memory read (an update document) holds at most this much; a longer body, announced or
// arriving, fails with kBodyTooLarge instead of filling the memory.
inline constexpr std::uint64_t kMaxMemoryBody = kMaxDocumentBytes;

// A completed body that the reader streamed to a temporary file beside the task's save path.
// Destroying it without a successful MoveTo deletes the temporary file.
class DownloadedFile {
 public:
  virtual ~DownloadedFile() = default;
  virtual std::uint64_t Size() const = 0;
  // The SHA-256 of the body, taken while it streamed; nullopt unless hashing was asked for
  // (UrlReader::SetHashFileBodies) and succeeded.
  virtual std::optional<Sha256Digest> Digest() const { return std::nullopt; }
  // Exactly `length` bytes at `offset` of the body; false when they are not all there.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) = 0;
  // Replaces `savePath` with the body; kAccessDenied when the target is held open or
  // write-protected. On success the file stays open, refusing writers and deletion, until this
  // object goes: what was checked is what the shell opens.
  virtual TransferError MoveTo(const std::u16string& savePath) = 0;
  // Whether the body continues one an earlier run left on disk: bytes nobody watched arrive.
  virtual bool CarriedOver() const { return false; }
};

struct ReadResult {
  TransferError error;                   // none when the whole body arrived with a 2xx status
  std::string body;                      // memory reads: the whole body
  std::unique_ptr<DownloadedFile> file;  // reads with a save path: the body on disk
};

class UrlReaderSink {
 public:
  virtual ~UrlReaderSink() = default;
  // `total` is 0 when the server gives no length.
  virtual void OnReadProgress(const std::u16string& key, std::uint64_t read,
                              std::uint64_t total) = 0;
  virtual void OnReadComplete(const std::u16string& key, ReadResult result) = 0;
  // The read's attempt failed and retry `retry` of `retries` follows after a wait; the next
  // attempt continues from `resumeFrom` bytes (0: from the start, though an answer may still
  // send the whole body again). Retry 0: the first attempt continues a body an earlier run left.
  // `cause`: why the failed attempt failed (none for retry 0).
  virtual void OnReadRetry(const std::u16string& /*key*/, std::uint32_t /*retry*/,
                           std::uint32_t /*retries*/, std::uint64_t /*resumeFrom*/,
                           TransferError /*cause*/ = {}) {}
};

class UrlReader {
 public:
  virtual ~UrlReader() = default;
  virtual void SetSink(UrlReaderSink* sink) = 0;
  // Starts reading `url` under `key`, bypassing every cache. With an empty `savePath` the body
  // is delivered in memory; otherwise it is streamed to a temporary file in the folder of
  // `savePath` (which must exist) and delivered as a DownloadedFile. No error, or why the read
  // could not start.
  virtual TransferError Start(const std::u16string& url, const std::u16string& key,
                              const std::u16string& savePath) = 0;
  // Stops the read under `key`; after this no notification for that read arrives. False when
  // no read runs under the key.
  virtual bool Cancel(const std::u16string& key) = 0;
  // Whether reads started from now on hash their file bodies while they stream.
  virtual void SetHashFileBodies(bool /*on*/) {}
};

// How the system's reader copes with a bad link. An attempt that receives no byte for
// `stallTimeoutMs` (connecting included) fails with ERROR_INTERNET_TIMEOUT (12002). A server that
// sends a byte now and then stays under that, so a memory body (an update document: small, and
// the check waits on it) must arrive whole within `documentDeadlineMs` of its request, and a file
// body's attempt that averages under `minBytesPerSecond` over its last `slowWindowMs` is given up
// (SlowTransferWatch); both fail with kTooSlow. A file body whose attempt fails in a way a later
// try may cure (IsRetryable) is tried again up to `retriesPerAddress` times, after
// `firstBackoffMs`, then twice that, and so on; the waits end at once on a cancel. Memory bodies
// are not retried here.
struct ReaderTuning {
  std::uint32_t stallTimeoutMs = 30'000;
  std::uint32_t firstBackoffMs = 1'000;
  std::uint32_t retriesPerAddress = 3;
  std::uint32_t documentDeadlineMs = 60'000;
  std::uint32_t slowWindowMs = 60'000;
  std::uint32_t minBytesPerSecond = 1024;
};

// The system's reader (WinINet; Windows builds only). Create and use it on the user-interface
// thread: it delivers its notifications as posted messages to a window of that thread, so they
// run whenever that thread dispatches messages.
std::unique_ptr<UrlReader> CreateSystemUrlReader(ReaderTuning tuning = {});

}  // namespace sealupdate
