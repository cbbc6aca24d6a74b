// Downloader: named download tasks over the asynchronous URL reader, reported to the owner as
// synchronous events. Everything runs on the user-interface thread; nothing waits for a transfer.
//
// A task with a save path never holds its body in memory: the reader streams it to a temporary
// file beside the save path, which replaces the save path only once the body is complete. For
// such a task `body` is empty in `DownloadComplete` (the body is in the file).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/trail.h"
#include "download/url_reader.h"
#include "platform/clock.h"
#include "platform/event_pump.h"

namespace sealupdate {

class DownloaderEvents {
 public:
  virtual ~DownloaderEvents() = default;
  virtual void AddDownloadTask(const std::u16string& /*url*/, const std::u16string& /*task*/,
                               const std::u16string& /*savePath*/, std::int32_t /*taskCount*/) {}
  virtual void DownloadProgress(const std::u16string& /*url*/, const std::u16string& /*task*/,
                                const std::u16string& /*savePath*/, double /*read*/,
                                double /*total*/, const std::u16string& /*rate*/,
                                const std::u16string& /*remaining*/, std::int32_t /*taskCount*/) {}
  // The transfer broke off; retry `retry` of `retries` at the same address follows shortly.
  virtual void DownloadRetry(const std::u16string& /*url*/, const std::u16string& /*task*/,
                             const std::u16string& /*savePath*/, std::int32_t /*retry*/,
                             std::int32_t /*retries*/) {}
  virtual void DownloadComplete(const std::u16string& /*url*/, const std::u16string& /*task*/,
                                const std::u16string& /*savePath*/, const std::string& /*body*/,
                                TransferError /*error*/, std::int32_t /*taskCount*/) {}
};

class Downloader final : private UrlReaderSink {
 public:
  // `clientFolder` is the folder of the client's executable (relative save paths go under it).
  Downloader(UrlReader& reader, Clock& clock, EventPump& pump, std::u16string clientFolder);
  ~Downloader() override;
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  void SetEvents(DownloaderEvents* events) { events_ = events; }
  // Every request's answer (or failure), retry and resume goes to the trail.
  void SetTrail(Trail trail) { trail_ = std::move(trail); }
  // Inspects every finished file body before it may replace its save path: no error lets it
  // through, an error fails the task with it and the body is deleted unseen.
  using BodyCheck =
      std::function<TransferError(DownloadedFile& body, const std::u16string& savePath)>;
  void SetBodyCheck(BodyCheck check) { bodyCheck_ = std::move(check); }

  // Reads started from now on hash their file bodies (DownloadedFile::Digest).
  void SetHashFileBodies(bool on) { reader_.SetHashFileBodies(on); }
  // The last package moved onto its save path stays open, refusing writers and deletion, until
  // this is called (or the next download starts, or the tasks are removed).
  void ReleasePackage() { heldPackage_.reset(); }

  const std::string& Body() const { return body_; }
  void SetBody(std::string value) { body_ = std::move(value); }

  std::u16string BeginDownload(const std::u16string& url, const std::u16string& task = {},
                               const std::u16string& savePath = {});
  bool RemoveTask(const std::u16string& task);
  void RemoveAllTasks();
  std::int32_t TaskCount() const;

  // Pure helpers, public for the tests and the tool.
  static std::u16string ReplaceInvalidFileChars(std::u16string_view text,
                                                std::u16string_view replacement);
  // The normalised save path and its folder part (ending with "\"); empty for an empty path.
  struct SaveTarget {
    std::u16string folder;
    std::u16string path;
  };
  static SaveTarget NormalizeSavePath(std::u16string_view savePath,
                                      std::u16string_view clientFolder);
  // `rate` and `remaining` for `read` of `total` bytes after `elapsed` whole seconds.
  static std::pair<std::u16string, std::u16string> RateTexts(double read, double total,
                                                             std::int64_t elapsed);

 private:
  struct TaskRecord {
    std::u16string url;
    std::u16string savePath;
    std::u16string task;
    std::int64_t startTime = 0;    // of the current attempt: the rate counts only its bytes
    std::uint64_t startBytes = 0;  // where the current attempt started
    std::int64_t requestMs = 0;    // when the task began, for the trail
    std::uint64_t received = 0;    // the last count of bytes read
  };
  // "<task> <address>: " for the trail.
  static std::string TrailHead(const TaskRecord& record);
  void TrailAnswer(const TaskRecord& record, TransferError error, std::uint64_t bytes) const;

  int GetTaskIndex(const std::u16string& task) const;
  std::u16string MakeUniqueTaskName(const std::u16string& task);
  void Fail(const std::u16string& url, const std::u16string& task, const std::u16string& savePath,
            const std::string& bytes, TransferError error);

  void OnReadProgress(const std::u16string& key, std::uint64_t read, std::uint64_t total) override;
  void OnReadComplete(const std::u16string& key, ReadResult result) override;
  void OnReadRetry(const std::u16string& key, std::uint32_t retry, std::uint32_t retries,
                   std::uint64_t resumeFrom, TransferError cause) override;

  UrlReader& reader_;
  Clock& clock_;
  EventPump& pump_;
  std::u16string clientFolder_;
  DownloaderEvents* events_ = nullptr;
  Trail trail_;
  BodyCheck bodyCheck_;
  std::unique_ptr<DownloadedFile> heldPackage_;
  std::string body_;
  std::vector<TaskRecord> tasks_{1};  // slot 0 never holds a task
  // Lower-cased task name -> index in tasks_; absent until the first BeginDownload.
  std::optional<std::map<std::u16string, int>> names_;
};

}  // namespace sealupdate
