// The WinINet reader. Each read runs on a worker thread of its own, each attempt at it on a
// thread with its own session; the worker hands results to the user-interface thread only by
// posting messages to a message-only window, so every notification runs on that thread. A
// cancelled read, or a stalled or too slow attempt, is abandoned, never joined: under Wine a read
// blocked on a stalled server cannot be interrupted promptly.
//
// The server is not trusted: the reader follows redirects itself under url_policy.h's rules,
// sends no fragment, refuses coded bodies, caps memory bodies and checks every announced length.
#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "download/internet_request_win.h"
#include "download/partial_download.h"
#include "download/read_body_win.h"
#include "download/url_policy.h"
#include "download/url_reader.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

// A synchronous read returns only when its buffer is full or the body ends (so Windows documents
// InternetReadFile, and so Wine does), so under Wine the buffer size bounds the throughput;
// 256 KiB keeps up with the loopback interface. ReadPacer decides how much of it each read asks
// for.
constexpr DWORD kBufferSize = 256 * 1024;
constexpr ULONGLONG kProgressIntervalMs = 100;
constexpr UINT kReadMessage = WM_APP + 0x41;
constexpr LPARAM kProgress = 0;
constexpr LPARAM kComplete = 1;
constexpr LPARAM kRetry = 2;
// A retry's message carries its number: read from the job when the message is handled, it could
// already be that of a later retry, and the user would be told 2 of 3 twice.
constexpr LPARAM RetryMessage(std::uint32_t retry) {
  return kRetry | static_cast<LPARAM>(retry) << 8;
}
constexpr wchar_t kWindowClass[] = L"SealUpdate.UrlReader";

using win::UniqueWindow;

// One read. Its worker controls the transfer: it runs each attempt on a thread of its own and
// waits on it, so that a stalled attempt is left behind (under Wine a blocked read cannot be
// interrupted) and a cancel ends every wait at once. The UI thread owns the maps that find the
// job.
struct Job {
  Job(std::uint64_t readId, const std::u16string& savePath, bool hash)
      : id(readId), body(savePath, readId, hash) {}
  std::uint64_t id;
  std::u16string key;
  std::u16string url;
  ReaderTuning tuning;
  HWND target = nullptr;
  win::UniqueKernelHandle cancelEvent;  // set by Cancel
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};  // the worker no longer touches the body's file
  std::atomic<bool> progressQueued{false};
  std::atomic<std::uint64_t> resumeFrom{0};  // where it continues
  // Guards everything below. Only the attempt whose serial is current may add to the body: one
  // left behind may wake up later, and its bytes must not land.
  std::mutex mutex;
  std::uint64_t serial = 0;
  ReadBody body;  // its counts, and its files once finished, are read without the lock
  TransferError error;
  TransferError retryCause;  // why the last failed attempt failed
};

// One request of a job, shared by the worker and the attempt's thread.
struct Attempt {
  std::uint64_t serial = 0;
  win::UniqueKernelHandle done;            // set when the attempt's thread has its result
  ULONGLONG started = 0;                   // when it was launched (GetTickCount64)
  std::atomic<ULONGLONG> alive{0};         // when the server last sent anything (GetTickCount64)
  std::atomic<std::uint64_t> received{0};  // body bytes that reached this attempt
  std::atomic<bool> bodyStarted{false};
  // Set when a range request was answered so that no range can continue the body: the next
  // attempt starts from zero at once (it asks for no range, so this cannot repeat).
  std::atomic<bool> startOver{false};
  std::uint64_t offset = 0;  // > 0: asks for the body from here on (Range, If-Range)
  std::uint64_t total = 0;   // with `offset`: the whole body's length
  std::u16string validator;  // with `offset`: what If-Range carries
  TransferError error;       // read once `done` is set
};

void DeleteFiles(const Job& job) {
  // A cancel (the window closing, the user stopping) keeps a resumable body for the next run.
  job.body.DeleteFiles(job.cancelled);
}

class Stopwatch {
 public:
  Stopwatch() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    frequency_ = static_cast<std::uint64_t>(frequency.QuadPart);
  }
  std::uint64_t Microseconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const auto ticks = static_cast<std::uint64_t>(now.QuadPart);
    return ticks / frequency_ * 1'000'000 + ticks % frequency_ * 1'000'000 / frequency_;
  }

 private:
  std::uint64_t frequency_ = 1;
};

// Adds `size` bytes to the body of the attempt `serial`; false to stop reading: the attempt
// was left behind (`error` stays none) or the bytes could not be kept (`error`).
bool Append(Job& job, std::uint64_t serial, const char* data, DWORD size, TransferError& error) {
  std::lock_guard<std::mutex> lock(job.mutex);
  if (serial != job.serial) return false;
  error = job.body.Append(data, size);
  return !error;
}

// One request and its body, through `request`, which the caller keeps. Stops early, with no
// error, once cancelled or left behind.
TransferError Transfer(Job& job, Attempt& attempt, InternetRequest& request) {
  if (const TransferError error =
          request.Send(job.url, attempt.offset, attempt.validator, job.cancelled, attempt.alive);
      error || job.cancelled) {
    if (attempt.offset > 0 && error == HttpStatusError(416)) attempt.startOver = true;
    return error;
  }
  std::uint64_t total = request.ContentLength();
  const std::u16string range = request.Header(HTTP_QUERY_CONTENT_RANGE);
  const std::u16string validator = request.Validator();
  const RangeAnswer answer = JudgeRangeAnswer({attempt.offset, attempt.total, attempt.validator},
                                              {request.Status(), total, range, validator});
  if (answer == RangeAnswer::kMismatch) {
    attempt.startOver = true;
    return HttpStatusError(request.Status());
  }
  if (answer == RangeAnswer::kRest) {
    total = attempt.total;
  } else if (const TransferError error = job.body.Admit(total)) {
    return error;  // refused before any byte is read
  }
  {
    std::lock_guard<std::mutex> lock(job.mutex);
    if (attempt.serial != job.serial) return {};
    // A whole body (a first answer, or a server that ignored the range or whose file changed):
    // it replaces whatever an earlier attempt left.
    if (answer == RangeAnswer::kWhole) {
      if (const TransferError error = job.body.StartWhole(job.url, total, validator)) return error;
    }
  }
  attempt.bodyStarted = true;

  std::vector<char> buffer(kBufferSize);
  ReadPacer pacer(kBufferSize);
  const Stopwatch clock;
  std::uint64_t lastRead = clock.Microseconds();
  ULONGLONG lastProgress = 0;
  for (;;) {
    if (job.cancelled) return {};
    DWORD arrived = 0;
    // Blocks until some of the body is there (or it ended), then tells how much.
    if (pacer.SizeByArrival()) {
      if (const TransferError error = request.Available(arrived)) return error;
    }
    DWORD got = 0;
    if (const TransferError error = request.Read(buffer.data(), pacer.Next(arrived), got)) {
      return error;
    }
    const std::uint64_t now = clock.Microseconds();
    pacer.Record(got, now - lastRead);
    lastRead = now;
    if (got == 0) break;
    attempt.alive = GetTickCount64();
    attempt.received += got;
    TransferError error;
    if (!Append(job, attempt.serial, buffer.data(), got, error)) return error;
    const std::uint64_t read = job.body.Read();
    // At most one progress message waits per read, and they come at most every
    // kProgressInterval (waking the UI thread for each buffer costs a third of the throughput
    // under Wine); the UI thread reads the latest count. The last buffer is always reported.
    const ULONGLONG tick = GetTickCount64();
    if ((tick - lastProgress >= kProgressIntervalMs || read == total) &&
        !job.progressQueued.exchange(true)) {
      lastProgress = tick;
      PostMessageW(job.target, kReadMessage, static_cast<WPARAM>(job.id), kProgress);
    }
  }
  // WinINet reports a body cut short as a normal end, so a body shorter than its announced
  // length is told here. A chunked body cut before its terminating 0-chunk cannot be told at
  // all: WinINet decodes the chunks itself and ends such a body exactly like a whole one (under
  // Wine 8: InternetReadFile TRUE with 0 bytes, InternetQueryDataAvailable 0, no error, nothing
  // in HttpQueryInfo or the request's options), just as a body that ends with the connection
  // carries nothing to check. Only a look at the body itself can catch those.
  if (total > 0 && job.body.Read() < total) return TransferFailure::kBodyShort;
  return {};
}

void RunAttempt(std::shared_ptr<Job> job, std::shared_ptr<Attempt> attempt) {
  // Closed after the result is out: closing takes WinINet a while, and nothing waits for it.
  InternetRequest request;
  try {
    attempt->error = Transfer(*job, *attempt, request);
  } catch (...) {  // nothing may leave a thread entry; only allocation can throw here
    attempt->error = TransferFailure::kOutOfMemory;
  }
  SetEvent(attempt->done.get());
}

// Waits for the attempt to end: its result, a stall (ERROR_INTERNET_TIMEOUT), a document past its
// deadline or a package too slow (kTooSlow), or no error on a cancel.
TransferError Watch(const Job& job, const Attempt& attempt) {
  const HANDLE events[] = {attempt.done.get(), job.cancelEvent.get()};
  const ReaderTuning& tuning = job.tuning;
  const ULONGLONG stall = tuning.stallTimeoutMs;
  SlowTransferWatch slow(attempt.started, tuning.slowWindowMs, tuning.minBytesPerSecond);
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG alive = attempt.alive;
    const ULONGLONG quiet = now > alive ? now - alive : 0;
    if (quiet >= stall) return SystemError(ERROR_INTERNET_TIMEOUT);
    ULONGLONG wait = stall - quiet;
    if (job.body.InMemory()) {
      const ULONGLONG spent = now - attempt.started;
      if (spent >= tuning.documentDeadlineMs) return TransferFailure::kTooSlow;
      wait = std::min<ULONGLONG>(wait, tuning.documentDeadlineMs - spent);
    } else {
      if (slow.TooSlow(now, attempt.received)) return TransferFailure::kTooSlow;
      wait = std::min<ULONGLONG>(wait, slow.IntervalMs());
    }
    switch (WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(wait))) {
      case WAIT_OBJECT_0:
        return attempt.error;
      case WAIT_OBJECT_0 + 1:
        return {};
      case WAIT_TIMEOUT:
        break;
      default:
        return SystemError(GetLastError());
    }
  }
}

// Starts the next attempt on a thread of its own: for the rest of the body when `resume`,
// otherwise over an emptied body. nullptr with `error` set when it could not start.
std::shared_ptr<Attempt> LaunchAttempt(const std::shared_ptr<Job>& self, bool resume,
                                       TransferError& error) {
  Job& job = *self;
  auto attempt = std::make_shared<Attempt>();
  attempt->done.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!attempt->done) {
    error = TransferFailure::kNoThread;
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(job.mutex);
    attempt->serial = ++job.serial;
    if (resume) {
      attempt->offset = job.body.Read();
      attempt->total = job.body.Total();
      attempt->validator = job.body.Validator();
    } else {
      error = job.body.Restart();
    }
  }
  if (error) return nullptr;
  attempt->started = GetTickCount64();
  attempt->alive = attempt->started;
  try {
    std::thread(RunAttempt, self, attempt).detach();
  } catch (...) {
    error = TransferFailure::kNoThread;
    return nullptr;
  }
  return attempt;
}

// Runs attempts until the body is whole, the failure is final or the read is cancelled (no error
// then). `first`, when given, is the first attempt, already started.
TransferError Fetch(const std::shared_ptr<Job>& self, std::shared_ptr<Attempt> first) {
  Job& job = *self;
  bool resume = false;
  if (!job.body.InMemory()) {
    std::lock_guard<std::mutex> lock(job.mutex);
    if (const TransferError error = job.body.Open(job.url, resume)) return error;
    if (resume) {  // the rate counts only what arrives from here
      job.resumeFrom = job.body.Read();
      PostMessageW(job.target, kReadMessage, static_cast<WPARAM>(job.id), RetryMessage(0));
    }
  }
  TransferError error;
  for (std::uint32_t retry = 0;;) {
    error = {};
    const std::shared_ptr<Attempt> attempt =
        first ? std::exchange(first, nullptr) : LaunchAttempt(self, resume, error);
    if (!attempt) break;
    error = Watch(job, *attempt);
    if (!error || job.cancelled) break;
    if (attempt->startOver) {
      resume = false;
      continue;
    }
    if (job.body.InMemory() || retry >= job.tuning.retriesPerAddress ||
        !IsRetryable(error, attempt->bodyStarted)) {
      break;
    }
    {
      std::lock_guard<std::mutex> lock(job.mutex);
      ++job.serial;  // a stalled attempt may still wake up: its bytes are refused from now on
      // The next attempt asks only for the rest when this very body can be told again.
      resume = job.body.MayContinue();
      job.resumeFrom = resume ? job.body.Read() : 0;
      job.retryCause = error;
    }
    PostMessageW(job.target, kReadMessage, static_cast<WPARAM>(job.id), RetryMessage(retry + 1));
    if (WaitForSingleObject(job.cancelEvent.get(), BackoffMs(job.tuning.firstBackoffMs, retry++)) !=
        WAIT_TIMEOUT) {
      break;  // cancelled (or the wait failed, which the cancel flag below settles)
    }
  }
  std::lock_guard<std::mutex> lock(job.mutex);
  ++job.serial;  // nothing more lands in the body
  if (!error && !job.cancelled) error = job.body.Finish();
  job.body.Close();
  return error;
}

void Worker(std::shared_ptr<Job> job, std::shared_ptr<Attempt> first) {
  TransferError error;
  try {
    error = Fetch(job, std::move(first));
  } catch (...) {  // nothing may leave a thread entry; only allocation can throw here
    error = TransferFailure::kOutOfMemory;
  }
  job->finished = true;
  if (job->cancelled || error) DeleteFiles(*job);
  {
    std::lock_guard<std::mutex> lock(job->mutex);
    if (error || job->cancelled) job->body.Release();  // a refused body goes now
    job->error = error;
  }
  if (job->cancelled) return;
  if (!PostMessageW(job->target, kReadMessage, static_cast<WPARAM>(job->id), kComplete)) {
    DeleteFiles(*job);  // the reader is gone
  }
}

class WinInetUrlReader final : public UrlReader {
 public:
  explicit WinInetUrlReader(ReaderTuning tuning) : tuning_(tuning) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &WinInetUrlReader::WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);  // fails harmlessly when a second reader registers it again
    window_.reset(CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, nullptr));
    if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  ~WinInetUrlReader() override {
    while (!byKey_.empty()) Cancel(byKey_.begin()->first);
  }

  void SetSink(UrlReaderSink* sink) override { sink_ = sink; }
  void SetHashFileBodies(bool on) override { hashFileBodies_ = on; }

  TransferError Start(const std::u16string& url, const std::u16string& key,
                      const std::u16string& savePath) override {
    if (!window_) return TransferFailure::kNoThread;
    Cancel(key);
    auto job = std::make_shared<Job>(nextId_++, savePath, hashFileBodies_);
    job->key = key;
    job->url = url;
    job->target = window_.get();
    job->tuning = tuning_;
    job->cancelEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!job->cancelEvent) return TransferFailure::kNoThread;
    // A memory read has nothing to prepare, so its request goes out now, while the worker that
    // watches it starts (under Wine each thread takes milliseconds to run).
    std::shared_ptr<Attempt> first;
    if (job->body.InMemory()) {
      TransferError error;
      first = LaunchAttempt(job, false, error);
      if (!first) return error;
    }
    try {
      std::thread(Worker, job, first).detach();
    } catch (...) {
      job->cancelled = true;  // a started attempt stops at its next step
      SetEvent(job->cancelEvent.get());
      return TransferFailure::kNoThread;
    }
    byKey_[key] = job;
    byId_[job->id] = job;
    return {};
  }

  bool Cancel(const std::u16string& key) override {
    const auto found = byKey_.find(key);
    if (found == byKey_.end()) return false;
    const std::shared_ptr<Job> job = found->second;
    byKey_.erase(found);
    byId_.erase(job->id);
    job->cancelled = true;
    SetEvent(job->cancelEvent.get());
    // The worker deletes its file when it stops; if it already has, the file is ours to delete.
    if (job->finished) DeleteFiles(*job);
    return true;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kReadMessage) {
      auto* self = reinterpret_cast<WinInetUrlReader*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      // The sink's handlers run here; nothing they throw may cross into the system's dispatch.
      try {
        if (self) self->OnReadMessage(static_cast<std::uint64_t>(wParam), lParam);
      } catch (...) {
      }
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  void OnReadMessage(std::uint64_t id, LPARAM kind) {
    const auto found = byId_.find(id);
    if (found == byId_.end()) return;  // cancelled: late news is dropped
    const std::shared_ptr<Job> job = found->second;
    if (kind == kProgress) {
      job->progressQueued = false;
      if (sink_) sink_->OnReadProgress(job->key, job->body.Read(), job->body.Total());
      return;
    }
    if ((kind & 0xFF) == kRetry) {
      TransferError cause;
      {
        std::lock_guard<std::mutex> lock(job->mutex);
        cause = job->retryCause;
      }
      if (sink_) {
        sink_->OnReadRetry(job->key, static_cast<std::uint32_t>(kind >> 8),
                           job->tuning.retriesPerAddress, job->resumeFrom, cause);
      }
      return;
    }
    byId_.erase(found);
    byKey_.erase(job->key);
    ReadResult result;
    {
      std::lock_guard<std::mutex> lock(job->mutex);
      result.error = job->error;
      if (!result.error) job->body.Deliver(result);
    }
    if (sink_) sink_->OnReadComplete(job->key, std::move(result));
  }

  ReaderTuning tuning_;
  UniqueWindow window_;
  UrlReaderSink* sink_ = nullptr;
  bool hashFileBodies_ = false;
  std::uint64_t nextId_ = 1;
  std::map<std::u16string, std::shared_ptr<Job>> byKey_;
  std::map<std::uint64_t, std::shared_ptr<Job>> byId_;
};

}  // namespace

std::unique_ptr<UrlReader> CreateSystemUrlReader(ReaderTuning tuning) {
  return std::make_unique<WinInetUrlReader>(tuning);
}

}  // namespace sealupdate
