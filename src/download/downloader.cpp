#include "download/downloader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::strlen(text)); }

// "0.00": at least one integer digit, two decimals, halves away from zero.
std::u16string TwoDecimals(double value) {
  char text[64];
  const double cents = std::round(value * 100.0);
  std::snprintf(text, sizeof text, "%.2f", cents / 100.0);
  return Ascii(text);
}

// "hh:mm:ss" rounded to the second; past a day the hours go on ("194:26:12") instead of
// wrapping. Nothing left (or a total below the bytes read) is "00:00:00".
std::u16string Duration(double seconds) {
  constexpr double kLongest = 3.6e15;  // a billion hours: far past any real download
  const double whole = std::min(std::max(std::round(seconds), 0.0), kLongest);
  const auto s = static_cast<long long>(whole);
  char text[64];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return Ascii(text);
}

}  // namespace

Downloader::Downloader(UrlReader& reader, Clock& clock, EventPump& pump,
                       std::u16string clientFolder)
    : reader_(reader), clock_(clock), pump_(pump), clientFolder_(std::move(clientFolder)) {
  reader_.SetSink(this);
}

Downloader::~Downloader() {
  RemoveAllTasks();
  reader_.SetSink(nullptr);
}

std::int32_t Downloader::TaskCount() const {
  return names_ ? static_cast<std::int32_t>(names_->size()) : 0;
}

int Downloader::GetTaskIndex(const std::u16string& task) const {
  if (!names_) return 0;
  const auto found = names_->find(ToLowerUnits(task));
  return found == names_->end() ? 0 : found->second;
}

std::u16string Downloader::MakeUniqueTaskName(const std::u16string& task) {
  const std::u16string base = task.empty() ? u"DownloadTask" : task;
  std::u16string candidate = base;
  for (long n = 1; GetTaskIndex(candidate) != 0; ++n) {
    candidate = base + u"(" + Ascii(std::to_string(n).c_str()) + u")";
    // Queued notifications run here; their handlers may start or remove tasks.
    pump_.ProcessPendingEvents();
  }
  return candidate;
}

std::u16string Downloader::ReplaceInvalidFileChars(std::u16string_view text,
                                                   std::u16string_view replacement) {
  std::u16string out;
  out.reserve(text.size());
  for (const char16_t unit : text) {
    if (std::u16string_view(u"\\/*:?|\"").find(unit) != std::u16string_view::npos) {
      out += replacement;
    } else {
      out += unit;
    }
  }
  return out;
}

Downloader::SaveTarget Downloader::NormalizeSavePath(std::u16string_view savePath,
                                                     std::u16string_view clientFolder) {
  std::u16string p = TrimSpaces(savePath);
  if (p.empty()) return {};
  // "X:\..." and "\\server\share\..." are whole paths; anything else is under the client's folder.
  const bool absolute =
      (p.size() >= 3 && p.compare(1, 2, u":\\") == 0) || p.compare(0, 2, u"\\\\") == 0;
  if (!absolute) {
    if (p[0] == u'\\') p.erase(0, 1);
    p = std::u16string(clientFolder) + u"\\" + p;
  }
  // A client started from a network share keeps the "\\" that opens its UNC folder.
  const bool unc = p.compare(0, 2, u"\\\\") == 0;
  p = unc ? u"\\\\" + ReplaceAll(std::u16string_view(p).substr(2), u"\\\\", u"\\")
          : ReplaceAll(p, u"\\\\", u"\\");
  const auto k = p.rfind(u'\\') + 1;  // there is always one: "X:\" or the joint above
  SaveTarget target;
  target.folder = p.substr(0, k);
  target.path = target.folder + ReplaceInvalidFileChars(std::u16string_view(p).substr(k), u"_");
  return target;
}

std::pair<std::u16string, std::u16string> Downloader::RateTexts(double read, double total,
                                                                std::int64_t elapsed) {
  if (elapsed <= 0) {
    // Under a whole second (or a clock set back): the bytes so far over one second.
    const double kb = read / 1024;
    return {kb > 1024 ? TwoDecimals(kb / 1024) + u" MB/S" : TwoDecimals(kb) + u" KB/S",
            u"00:00:00"};
  }
  double rate = read / static_cast<double>(elapsed) / 1024;
  std::u16string unit = u" KB/S";
  const bool mega = rate > 1024;
  if (mega) {
    rate /= 1024;
    unit = u" MB/S";
  }
  std::u16string residual = u"-";
  if (rate != 0) {
    double left = (total - read) / 1024;
    if (mega) left /= 1024;
    residual = Duration(left / rate);
  }
  return {TwoDecimals(rate) + unit, residual};
}

std::string Downloader::TrailHead(const TaskRecord& record) {
  return TrailText(record.task) + " " + AddressForTrail(record.url) + ": ";
}

void Downloader::TrailAnswer(const TaskRecord& record, TransferError error,
                             std::uint64_t bytes) const {
  trail_.Write(TrailHead(record) + (error ? "failed, " + ErrorText(error) : std::string("ok")) +
               ", " + std::to_string(bytes) + " bytes, " +
               std::to_string(clock_.NowMilliseconds() - record.requestMs) + " ms");
}

std::u16string Downloader::BeginDownload(const std::u16string& url, const std::u16string& task,
                                         const std::u16string& requestedPath) {
  heldPackage_.reset();
  const std::u16string name = MakeUniqueTaskName(task);
  std::u16string savePath = requestedPath;
  TransferError error;
  const SaveTarget target = NormalizeSavePath(requestedPath, clientFolder_);
  if (!target.path.empty() && !CreateFolderTree(target.folder)) {
    error = TransferFailure::kFolderNotCreated;
  } else {
    savePath = target.path;
    if (!names_) names_.emplace();
    tasks_.push_back(
        TaskRecord{url, savePath, name, clock_.NowSeconds(), 0, clock_.NowMilliseconds(), 0});
    (*names_)[ToLowerUnits(name)] = static_cast<int>(tasks_.size() - 1);
    error = reader_.Start(url, name, savePath);
  }
  if (error) {
    RemoveTask(name);
    TrailAnswer(TaskRecord{url, savePath, name, 0, 0, clock_.NowMilliseconds(), 0}, error, 0);
    Fail(url, name, savePath, std::string(), error);
    return {};
  }
  if (events_) events_->AddDownloadTask(url, name, savePath, TaskCount());
  return name;
}

bool Downloader::RemoveTask(const std::u16string& task) {
  const int i = GetTaskIndex(task);
  if (i == 0) return false;
  // The read runs under the registered spelling of the name.
  reader_.Cancel(tasks_[static_cast<std::size_t>(i)].task);
  names_->erase(ToLowerUnits(task));
  if (names_->empty()) tasks_.resize(1);
  return true;
}

void Downloader::RemoveAllTasks() {
  heldPackage_.reset();
  if (!names_) return;
  std::vector<std::u16string> registered;
  for (const auto& entry : *names_) {
    registered.push_back(tasks_[static_cast<std::size_t>(entry.second)].task);
  }
  for (const auto& name : registered) RemoveTask(name);
  names_.reset();
  tasks_.resize(1);
}

void Downloader::Fail(const std::u16string& url, const std::u16string& task,
                      const std::u16string& savePath, const std::string& bytes,
                      TransferError error) {
  if (events_) events_->DownloadComplete(url, task, savePath, bytes, error, TaskCount());
}

void Downloader::OnReadProgress(const std::u16string& key, std::uint64_t read,
                                std::uint64_t total) {
  if (total == 0) return;
  const int i = GetTaskIndex(key);
  if (i == 0) return;
  TaskRecord& current = tasks_[static_cast<std::size_t>(i)];
  if (current.task != key) return;  // a read of an earlier task with a look-alike name
  // A retry announced a resume, but its answer brought the whole body again.
  if (read < current.startBytes) current.startBytes = 0;
  current.received = read;
  const TaskRecord record = current;
  // The rate is this attempt's; the remaining time is that of the real remaining length.
  const auto texts = RateTexts(static_cast<double>(read - record.startBytes),
                               static_cast<double>(total - record.startBytes),
                               clock_.NowSeconds() - record.startTime);
  if (events_) {
    events_->DownloadProgress(record.url, record.task, record.savePath, static_cast<double>(read),
                              static_cast<double>(total), texts.first, texts.second, TaskCount());
  }
}

void Downloader::OnReadRetry(const std::u16string& key, std::uint32_t retry, std::uint32_t retries,
                             std::uint64_t resumeFrom, TransferError cause) {
  const int i = GetTaskIndex(key);
  if (i == 0) return;
  TaskRecord& current = tasks_[static_cast<std::size_t>(i)];
  if (current.task != key) return;
  current.startTime = clock_.NowSeconds();
  current.startBytes = resumeFrom;
  const TaskRecord record = current;
  const std::string from =
      resumeFrom > 0 ? "resuming at " + std::to_string(resumeFrom) + " bytes" : "from the start";
  if (retry == 0) {
    trail_.Write(TrailHead(record) + "an earlier run's part, " + from);
  } else {
    trail_.Write(TrailHead(record) + "retry " + std::to_string(retry) + " of " +
                 std::to_string(retries) + " after " +
                 (cause.kind == TransferFailure::kTooSlow ? "a stall" : "a failure") + " (" +
                 ErrorText(cause) + "), " + from);
  }
  if (events_ && retry > 0) {
    events_->DownloadRetry(record.url, record.task, record.savePath,
                           static_cast<std::int32_t>(retry), static_cast<std::int32_t>(retries));
  }
}

void Downloader::OnReadComplete(const std::u16string& key, ReadResult result) {
  const int i = GetTaskIndex(key);
  if (i == 0) return;  // removed meanwhile: the result (and any file) is dropped
  const TaskRecord record = tasks_[static_cast<std::size_t>(i)];
  if (record.task != key) return;
  TransferError error = result.error;
  if (!error) {
    if (result.file) {
      body_.clear();  // the body is on disk, not in memory
      if (result.file->Size() == 0) {
        error = TransferFailure::kEmptyBody;
      } else if (record.savePath.empty()) {
        error = TransferFailure::kFileAccess;  // a reader contract breach: a file nobody asked for
      } else {
        if (bodyCheck_) error = bodyCheck_(*result.file, record.savePath);
        if (error == TransferError(TransferFailure::kPackageMismatch) &&
            result.file->CarriedOver()) {
          // What an earlier run left may not be what this one would have read: the file goes,
          // and one whole fresh read replaces it (it carries nothing over, so this cannot repeat).
          result.file.reset();
          error = reader_.Start(record.url, record.task, record.savePath);
          if (!error) return;
        }
        if (!error) error = result.file->MoveTo(record.savePath);
        if (!error) heldPackage_ = std::move(result.file);
      }
    } else {
      body_ = std::move(result.body);
      if (body_.empty()) {
        error = TransferFailure::kEmptyBody;
      } else if (!record.savePath.empty()) {
        error = TransferFailure::kFileAccess;  // the reader must stream such bodies to a file
      }
    }
  }
  const std::uint64_t bytes = result.file ? result.file->Size() : body_.size();
  result.file.reset();  // deletes a temporary file that was not moved
  RemoveTask(key);
  TrailAnswer(record, error, error ? record.received : bytes);
  if (error) {
    Fail(record.url, record.task, record.savePath, body_, error);
    return;
  }
  if (events_) {
    events_->DownloadComplete(record.url, record.task, record.savePath, body_, {}, TaskCount());
  }
}

}  // namespace sealupdate
