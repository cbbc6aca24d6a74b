// The WinINet reader. Each read runs on a worker thread of its own, each attempt at it on a
// thread with its own session; the worker hands results to the user-interface thread only by
// posting messages to a message-only window, so every notification runs on that thread. A
// cancelled read, or a stalled attempt, is abandoned, never joined: under Wine a read blocked on
// a stalled server cannot be interrupted promptly.
//
// The server is not trusted: the reader follows redirects itself under url_policy.h's rules,
// sends no fragment, refuses coded bodies, caps memory bodies and checks every announced length.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "download/url_policy.h"
#include "download/url_reader.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/win32.h"

#include <wininet.h>  // after <windows.h>

namespace sealupdate {
namespace {

// Under Wine a synchronous read returns only when its buffer is full, so the buffer size bounds
// the throughput; 256 KiB keeps up with the loopback interface. ReadPacer decides how much of it
// each read asks for.
constexpr DWORD kBufferSize = 256 * 1024;
// Redirects are followed by Fetch, not by WinINet (which follows any number, to any scheme, and
// from https to http).
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                                INTERNET_FLAG_NO_AUTO_REDIRECT;
// Coded bodies are refused rather than decoded: WinINet's decoding hides the Content-Length the
// body is checked against, and ends a cut compressed body as if it were whole. So none is asked
// for (without the header a server may pick any coding). Every attempt has a session of its own
// and never reuses a connection; a kept one would only cost a WinINet thread that closes it later
// (under Wine, milliseconds of the short silent check).
constexpr wchar_t kRequestHeaders[] =
    L"Cache-Control: no-cache\r\nAccept-Encoding: identity\r\nConnection: close\r\n";
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

using win::UniqueInternet;
using win::UniqueWindow;

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

// Which file a handle has open: a file renamed onto a path, or written anew, is another one.
struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
  }
};

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

// One read. Its worker controls the transfer: it runs each attempt on a thread of its own and
// waits on it, so that a stalled attempt is left behind (under Wine a blocked read cannot be
// interrupted) and a cancel ends every wait at once. The UI thread owns the maps that find the
// job.
struct Job {
  std::uint64_t id = 0;
  std::u16string key;
  std::u16string url;
  std::wstring tempPath;  // empty for a memory read
  // File reads: the partial body that outlives the process, beside the save path, and its record
  // (the address, the validator and the total length) that lets a later run resume it.
  std::wstring partPath;
  std::wstring recordPath;
  std::atomic<bool> resumable{false};  // the body on disk has a record: a cancel keeps both
  bool carried = false;  // the body begins with bytes an earlier run left (under the mutex)
  bool hash = false;     // file reads: take the body's SHA-256 as it streams
  ReaderTuning tuning;
  HWND target = nullptr;
  win::UniqueKernelHandle cancelEvent;  // set by Cancel
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};  // the worker no longer touches the temporary file
  std::atomic<bool> progressQueued{false};
  std::atomic<std::uint64_t> read{0};
  std::atomic<std::uint64_t> total{0};
  std::atomic<std::uint64_t> resumeFrom{0};  // where it continues
  // Guards everything below. Only the attempt whose serial is current may add to the body: one
  // left behind may wake up later, and its bytes must not land.
  std::mutex mutex;
  std::uint64_t serial = 0;
  win::UniqueFileHandle file;
  std::optional<Sha256> hasher;
  std::string body;        // memory reads
  std::wstring validator;  // the ETag (else Last-Modified) of the body so far; empty: none
  TransferError error;
  std::optional<Sha256Digest> digest;
  FileIdentity identity;  // of the temporary file, to tell it from a swapped one
};

// One request of a job, shared by the worker and the attempt's thread.
struct Attempt {
  std::uint64_t serial = 0;
  win::UniqueKernelHandle done;     // set when the attempt's thread has its result
  std::atomic<ULONGLONG> alive{0};  // when the server last sent anything (GetTickCount64)
  std::atomic<bool> bodyStarted{false};
  // Set when a range request was answered so that no range can continue the body: the next
  // attempt starts from zero at once (it asks for no range, so this cannot repeat).
  std::atomic<bool> startOver{false};
  std::uint64_t offset = 0;  // > 0: asks for the body from here on (Range, If-Range)
  std::wstring validator;    // with `offset`: what If-Range carries
  TransferError error;       // read once `done` is set
};

void DeleteTemp(const Job& job) {
  // A cancel (the window closing, the user stopping) keeps a resumable body for the next run.
  if (job.tempPath.empty() || (job.cancelled && job.resumable)) return;
  DeleteFileW(job.tempPath.c_str());
  if (job.tempPath == job.partPath) DeleteFileW(job.recordPath.c_str());
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

bool SetDeleteOnClose(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) !=
         0;
}

// The record of a partial body: three lines, the address (UTF-8), the validator and the total.
std::string RecordText(const Job& job) {
  return Utf16ToUtf8(job.url) + "\n" + Utf16ToUtf8(win::FromWide(job.validator)) + "\n" +
         std::to_string(job.total.load()) + "\n";
}

// Makes the body on disk resumable by a later run, or not (under the job's mutex): with a
// record it outlives its handle, without one it goes when the handle closes.
void KeepForLaterRuns(Job& job, bool keep) {
  if (job.tempPath != job.partPath) return;  // a private temporary file: never kept
  keep = keep && WriteWholeFile(win::FromWide(job.recordPath), RecordText(job));
  if (!keep) DeleteFileW(job.recordPath.c_str());
  if (SetDeleteOnClose(job.file.get(), !keep)) job.resumable = keep;
}

// A response header's text; empty when absent.
std::wstring QueryText(HINTERNET request, DWORD what) {
  std::wstring text(128, L'\0');
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  DWORD index = 0;
  if (!HttpQueryInfoW(request, what, text.data(), &size, &index)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
    index = 0;
    if (!HttpQueryInfoW(request, what, text.data(), &size, &index)) return {};
  }
  text.resize(size / sizeof(wchar_t));
  return text;
}

// What tells this body from a changed one in If-Range: a strong ETag, else Last-Modified;
// empty when neither (a weak ETag never matches there).
std::wstring Validator(HINTERNET request) {
  const std::wstring tag = QueryText(request, HTTP_QUERY_ETAG);
  if (!tag.empty() && tag.rfind(L"W/", 0) != 0) return tag;
  return QueryText(request, HTTP_QUERY_LAST_MODIFIED);
}

std::uint64_t ContentLength(HINTERNET request) {
  const std::wstring text = QueryText(request, HTTP_QUERY_CONTENT_LENGTH);
  std::uint64_t value = 0;
  for (const wchar_t* c = text.c_str(); *c >= L'0' && *c <= L'9'; ++c) {
    if (value > (UINT64_MAX - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(*c - L'0');
  }
  return value;
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

// Requests `job.url` and follows its redirects into `request`: 0 with the request of a final
// 2xx answer (or of a protocol without status), or an error number.
TransferError Open(Job& job, Attempt& attempt, HINTERNET session, UniqueInternet& request,
                   DWORD& status) {
  std::u16string url = StripFragment(job.url);
  std::wstring headers = kRequestHeaders;
  if (attempt.offset > 0) {
    headers += L"Range: bytes=" + std::to_wstring(attempt.offset) + L"-\r\nIf-Range: " +
               attempt.validator + L"\r\n";
  }
  for (int followed = 0;; ++followed) {
    request.reset(InternetOpenUrlW(session, win::Wide(url).c_str(), headers.c_str(),
                                   static_cast<DWORD>(-1), kRequestFlags, 0));
    if (!request) return SystemError(GetLastError());
    attempt.alive = GetTickCount64();
    if (job.cancelled) return {};
    status = 0;
    DWORD size = sizeof status;
    DWORD index = 0;
    if (!HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                        &size, &index)) {
      // Not HTTP (ftp ...): no status to check.
      if (GetLastError() == ERROR_INTERNET_INCORRECT_HANDLE_TYPE) return {};
      return TransferFailure::kNoResponse;
    }
    if (status == 0) return TransferFailure::kNoResponse;  // closed before any status line
    if (IsRedirectStatus(status)) {
      const RedirectStep step =
          NextRedirect(url, win::FromWide(QueryText(request.get(), HTTP_QUERY_LOCATION)), followed);
      if (step.error) return step.error;
      url = step.url;
      continue;
    }
    if (status < 200 || status > 299) return HttpStatusError(status);  // body not kept
    const std::wstring coding = QueryText(request.get(), HTTP_QUERY_CONTENT_ENCODING);
    if (IsIdentityEncoding(win::FromWide(coding))) return {};
    return TransferFailure::kContentEncoding;
  }
}

// Adds `size` bytes to the body of the attempt `serial`; false to stop reading: the attempt
// was left behind (`error` stays none) or the bytes could not be kept (`error`).
bool Append(Job& job, std::uint64_t serial, const char* data, DWORD size, TransferError& error) {
  std::lock_guard<std::mutex> lock(job.mutex);
  if (serial != job.serial) return false;
  const std::uint64_t read = job.read + size;
  if (job.tempPath.empty()) {
    if (read > kMaxMemoryBody) {
      error = TransferFailure::kBodyTooLarge;
      return false;
    }
    job.body.append(data, size);
  } else if (!WriteAll(job.file.get(), data, size)) {
    error = FileError(GetLastError());
    return false;
  }
  if (job.hasher) job.hasher->Update(data, size);
  job.read = read;
  return true;
}

// Empties the body for a new attempt: under the job's mutex.
TransferError RestartBody(Job& job) {
  job.read = 0;
  job.total = 0;
  job.body.clear();
  job.validator.clear();
  job.carried = false;
  if (job.tempPath.empty()) return {};
  if (job.hash) job.hasher.emplace();
  // An empty file is left as it is: on ext4 (Wine on Linux) a file once truncated to zero is
  // flushed to disk when it is closed, which holds the finished download up by about 0.3 ms a
  // MiB.
  LARGE_INTEGER size{};
  const LARGE_INTEGER zero{};
  if (!GetFileSizeEx(job.file.get(), &size) ||
      !SetFilePointerEx(job.file.get(), zero, nullptr, FILE_BEGIN) ||
      (size.QuadPart > 0 && !SetEndOfFile(job.file.get()))) {
    return FileError(GetLastError());
  }
  return {};
}

// Takes up the body a previous run left at the partial path (under the job's mutex): true when
// its record names this address, a validator and a total it has not reached, and the next
// attempt may ask for the rest; otherwise the file is emptied and its record removed. The
// hash is rebuilt over the bytes on disk.
bool LoadPartial(Job& job) {
  LARGE_INTEGER size{};
  const std::optional<std::string> record = ReadWholeFile(win::FromWide(job.recordPath));
  if (record && GetFileSizeEx(job.file.get(), &size) && size.QuadPart > 0) {
    const std::size_t a = record->find('\n');
    const std::size_t b = a == std::string::npos ? a : record->find('\n', a + 1);
    const std::uint64_t total =
        b == std::string::npos ? 0 : std::strtoull(record->c_str() + b + 1, nullptr, 10);
    const auto have = static_cast<std::uint64_t>(size.QuadPart);
    if (total > have && a > 0 && b > a + 1 && Utf8ToUtf16(record->substr(0, a)) == job.url) {
      job.validator = win::Wide(Utf8ToUtf16(record->substr(a + 1, b - a - 1)));
      job.total = total;
      job.read = have;
      job.resumable = true;
      job.carried = true;
      std::uint64_t hashed = 0;
      if (job.hash) {
        job.hasher.emplace();
        std::vector<char> buffer(kBufferSize);
        for (DWORD got = 0;
             ReadFile(job.file.get(), buffer.data(), kBufferSize, &got, nullptr) && got > 0;) {
          job.hasher->Update(buffer.data(), got);
          hashed += got;
        }
      }
      LARGE_INTEGER end{};
      if ((!job.hash || hashed == have) &&
          SetFilePointerEx(job.file.get(), end, nullptr, FILE_END)) {
        return true;
      }
    }
  }
  DeleteFileW(job.recordPath.c_str());
  RestartBody(job);
  return false;
}

// One request and its body, through handles the caller keeps; returns 0 or an error number.
// Stops early, returning 0, once cancelled or left behind.
TransferError Transfer(Job& job, Attempt& attempt, UniqueInternet& session,
                       UniqueInternet& request) {
  // The system proxy settings apply; certificate and host name checks stay on.
  session.reset(InternetOpenW(L"sealupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return SystemError(GetLastError());
  DWORD status = 0;
  if (const TransferError error = Open(job, attempt, session.get(), request, status);
      error || job.cancelled) {
    if (attempt.offset > 0 && error == HttpStatusError(416)) attempt.startOver = true;
    return error;
  }
  const bool memory = job.tempPath.empty();
  const bool resumed = attempt.offset > 0 && status == 206;
  std::uint64_t total = ContentLength(request.get());
  if (resumed) {
    // Only the rest of this very body, up to its end, may continue it.
    const std::optional<ContentRange> range =
        ParseContentRange(win::FromWide(QueryText(request.get(), HTTP_QUERY_CONTENT_RANGE)));
    if (!range || range->first != attempt.offset || range->last + 1 != range->total ||
        range->total != job.total || total != range->total - range->first) {
      attempt.startOver = true;
      return HttpStatusError(status);
    }
    total = range->total;
  } else if (memory && total > kMaxMemoryBody) {
    return TransferFailure::kBodyTooLarge;  // refused before any byte is read
  }
  {
    std::lock_guard<std::mutex> lock(job.mutex);
    if (attempt.serial != job.serial) return {};
    if (!resumed) {
      // A whole body (a first answer, or a server that ignored the range or whose file changed):
      // it replaces whatever an earlier attempt left.
      if (const TransferError error = RestartBody(job)) return error;
      job.validator = total > 0 ? Validator(request.get()) : std::wstring();
      job.total = total;
      if (!memory) KeepForLaterRuns(job, !job.validator.empty());
    }
    job.total = total;
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
    if (pacer.SizeByArrival() && !InternetQueryDataAvailable(request.get(), &arrived, 0, 0)) {
      return SystemError(GetLastError());
    }
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer.data(), pacer.Next(arrived), &got)) {
      return SystemError(GetLastError());
    }
    const std::uint64_t now = clock.Microseconds();
    pacer.Record(got, now - lastRead);
    lastRead = now;
    if (got == 0) break;
    attempt.alive = GetTickCount64();
    TransferError error;
    if (!Append(job, attempt.serial, buffer.data(), got, error)) return error;
    const std::uint64_t read = job.read;
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
  if (total > 0 && job.read < total) return TransferFailure::kBodyShort;
  return {};
}

void RunAttempt(std::shared_ptr<Job> job, std::shared_ptr<Attempt> attempt) {
  // Closed after the result is out: closing takes WinINet a while, and nothing waits for it.
  UniqueInternet session;
  UniqueInternet request;
  try {
    attempt->error = Transfer(*job, *attempt, session, request);
  } catch (...) {  // nothing may leave a thread entry; only allocation can throw here
    attempt->error = TransferFailure::kOutOfMemory;
  }
  SetEvent(attempt->done.get());
}

// Waits for the attempt to end: its result, a stall (ERROR_INTERNET_TIMEOUT), or 0 on a cancel.
TransferError Watch(const Job& job, const Attempt& attempt) {
  const HANDLE events[] = {attempt.done.get(), job.cancelEvent.get()};
  const ULONGLONG stall = job.tuning.stallTimeoutMs;
  for (;;) {
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG alive = attempt.alive;
    const ULONGLONG quiet = now > alive ? now - alive : 0;
    if (quiet >= stall) return SystemError(ERROR_INTERNET_TIMEOUT);
    switch (WaitForMultipleObjects(2, events, FALSE, static_cast<DWORD>(stall - quiet))) {
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

// Starts the next attempt on a thread of its own: from `job.read` on when `resume`, otherwise
// over an emptied body. nullptr with `error` set when it could not start.
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
      attempt->offset = job.read;
      attempt->validator = job.validator;
    } else {
      error = RestartBody(job);
    }
  }
  if (error) return nullptr;
  attempt->alive = GetTickCount64();
  try {
    std::thread(RunAttempt, self, attempt).detach();
  } catch (...) {
    error = TransferFailure::kNoThread;
    return nullptr;
  }
  return attempt;
}

// Runs attempts until the body is whole, the failure is final or the read is cancelled; returns
// 0 or an error number (0 too when cancelled). `first`, when given, is the first attempt, already
// started.
TransferError Fetch(const std::shared_ptr<Job>& self, std::shared_ptr<Attempt> first) {
  Job& job = *self;
  const bool memory = job.tempPath.empty();
  bool deleteOnClose = false;
  bool resume = false;
  if (!memory) {
    std::lock_guard<std::mutex> lock(job.mutex);
    job.file.reset(CreateFileW(job.partPath.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                               nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (job.file) {
      job.tempPath = job.partPath;
      resume = LoadPartial(job);
      if (resume) {  // the rate counts only what arrives from here
        job.resumeFrom = job.read.load();
        PostMessageW(job.target, kReadMessage, static_cast<WPARAM>(job.id), RetryMessage(0));
      }
    } else {
      // Another run holds the partial body: this one reads into a private file.
      job.file.reset(CreateFileW(job.tempPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    if (!job.file) return FileError(GetLastError());
    // Until it has a record, the file goes when its handle closes, whatever the reason (a
    // failure, a cancelled read, the process ending mid-read with this thread abandoned).
    deleteOnClose = resume || SetDeleteOnClose(job.file.get(), true);
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
    if (memory || retry >= job.tuning.retriesPerAddress ||
        !IsRetryable(error, attempt->bodyStarted)) {
      break;
    }
    {
      std::lock_guard<std::mutex> lock(job.mutex);
      ++job.serial;  // a stalled attempt may still wake up: its bytes are refused from now on
      // The next attempt asks only for the rest when this very body can be told again.
      resume = !job.validator.empty() && job.read > 0 && job.read < job.total;
      job.resumeFrom = resume ? job.read.load() : 0;
    }
    PostMessageW(job.target, kReadMessage, static_cast<WPARAM>(job.id), RetryMessage(retry + 1));
    if (WaitForSingleObject(job.cancelEvent.get(), BackoffMs(job.tuning.firstBackoffMs, retry++)) !=
        WAIT_TIMEOUT) {
      break;  // cancelled (or the wait failed, which the cancel flag below settles)
    }
  }
  std::lock_guard<std::mutex> lock(job.mutex);
  ++job.serial;  // nothing more lands in the body
  if (!error && !job.cancelled && !memory) {
    const std::optional<FileIdentity> written = IdentityOf(job.file.get());
    if (!written) {
      error = FileError(GetLastError());
    } else {
      job.identity = *written;
      if (job.hasher) job.digest = job.hasher->Finish();
      job.resumable = false;  // whole: the next step moves it onto the save path or deletes it
      if (job.tempPath == job.partPath) DeleteFileW(job.recordPath.c_str());
      if (deleteOnClose && !SetDeleteOnClose(job.file.get(), false)) {
        error = TransferFailure::kFileAccess;
      }
    }
  }
  job.file.reset();
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
  if (job->cancelled || error) DeleteTemp(*job);
  {
    std::lock_guard<std::mutex> lock(job->mutex);
    if (error || job->cancelled) job->body = std::string();  // a refused body goes now
    job->error = error;
  }
  if (job->cancelled) return;
  if (!PostMessageW(job->target, kReadMessage, static_cast<WPARAM>(job->id), kComplete)) {
    DeleteTemp(*job);  // the reader is gone
  }
}

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
    auto job = std::make_shared<Job>();
    job->id = nextId_++;
    job->key = key;
    job->url = url;
    job->target = window_.get();
    job->hash = hashFileBodies_;
    job->tuning = tuning_;
    job->cancelEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!job->cancelEvent) return TransferFailure::kNoThread;
    if (!savePath.empty()) {
      // Beside the save path, so the final move stays on one volume.
      job->tempPath = win::Wide(savePath) + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(job->id) + L".part";
      job->partPath = win::Wide(savePath) + L".part";
      job->recordPath = job->partPath + L".info";
    }
    // A memory read has nothing to prepare, so its request goes out now, while the worker that
    // watches it starts (under Wine each thread takes milliseconds to run).
    std::shared_ptr<Attempt> first;
    if (savePath.empty()) {
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
    if (job->finished) DeleteTemp(*job);
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
      if (sink_) sink_->OnReadProgress(job->key, job->read, job->total);
      return;
    }
    if ((kind & 0xFF) == kRetry) {
      if (sink_) {
        sink_->OnReadRetry(job->key, static_cast<std::uint32_t>(kind >> 8),
                           job->tuning.retriesPerAddress, job->resumeFrom);
      }
      return;
    }
    byId_.erase(found);
    byKey_.erase(job->key);
    ReadResult result;
    {
      std::lock_guard<std::mutex> lock(job->mutex);
      result.error = job->error;
      result.body = std::move(job->body);
      if (!result.error && !job->tempPath.empty()) {
        result.file = std::make_unique<TempFile>(job->tempPath, job->read, job->digest,
                                                 job->identity, job->carried);
      }
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
