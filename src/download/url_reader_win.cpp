// The WinINet reader. Each read runs on a worker thread of its own with its own session; the
// worker hands results to the user-interface thread only by posting messages to a message-only
// window, so every notification runs on that thread. A cancelled read is abandoned, never
// joined: under Wine a read blocked on a stalled server cannot be interrupted promptly.
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/url_reader.h"
#include "platform/files.h"
#include "platform/win32.h"

#include <wininet.h>  // after <windows.h>

namespace sealupdate {
namespace {

// Under Wine a synchronous read returns only when its buffer is full, so the buffer size sets
// the throughput; 256 KiB keeps up with the loopback interface.
constexpr DWORD kBufferSize = 256 * 1024;
constexpr ULONGLONG kProgressIntervalMs = 100;
constexpr UINT kReadMessage = WM_APP + 0x41;
constexpr LPARAM kProgress = 0;
constexpr LPARAM kComplete = 1;
constexpr wchar_t kWindowClass[] = L"SealUpdateUrlReader";

struct InternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::InternetCloseHandle(h); }
};
struct WindowTraits {
  using Handle = HWND;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::DestroyWindow(h); }
};
using UniqueInternet = win::UniqueHandle<InternetTraits>;
using UniqueWindow = win::UniqueHandle<WindowTraits>;

int FileError(DWORD code) {
  switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return kErrAccessDenied;
    case ERROR_PATH_NOT_FOUND:
      return kErrPathNotFound;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return kErrDiskFull;
    default:
      return kErrPathFileAccess;
  }
}

// One read. The worker owns the transfer; the UI thread owns the maps that find the job.
struct Job {
  std::uint64_t id = 0;
  std::u16string key;
  std::wstring url;
  std::wstring tempPath;  // empty for a memory read
  HWND target = nullptr;
  std::atomic<bool> cancelled{false};
  std::atomic<bool> finished{false};  // the worker no longer touches the temporary file
  std::atomic<bool> progressQueued{false};
  std::atomic<std::uint64_t> read{0};
  std::atomic<std::uint64_t> total{0};
  std::mutex mutex;  // guards the result below
  int error = 0;
  std::string body;
};

void DeleteTemp(const Job& job) {
  if (!job.tempPath.empty()) DeleteFileW(job.tempPath.c_str());
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

std::uint64_t ContentLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof text;
  DWORD index = 0;
  if (!HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, &index)) return 0;
  std::uint64_t value = 0;
  for (const wchar_t* c = text; *c >= L'0' && *c <= L'9'; ++c) {
    if (value > (UINT64_MAX - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(*c - L'0');
  }
  return value;
}

// Reads the whole body; returns 0 or an error number. Stops early, returning 0, once cancelled.
int Fetch(Job& job, std::string& body) {
  // The system proxy settings apply; certificate and host name checks stay on.
  UniqueInternet session(
      InternetOpenW(L"sealupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return static_cast<int>(GetLastError());
  constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI;
  UniqueInternet request(InternetOpenUrlW(session.get(), job.url.c_str(),
                                          L"Cache-Control: no-cache\r\n", static_cast<DWORD>(-1),
                                          kFlags, 0));
  if (!request) return static_cast<int>(GetLastError());
  if (job.cancelled) return 0;

  DWORD status = 0;
  DWORD size = sizeof status;
  DWORD index = 0;
  if (HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                     &index)) {
    if (status == 0) return kErrNoResponse;  // closed before any status line
    if (status < 200 || status > 299) return static_cast<int>(status);  // body not kept
  } else if (GetLastError() != ERROR_INTERNET_INCORRECT_HANDLE_TYPE) {  // not HTTP (ftp ...)
    return kErrNoResponse;
  }
  const std::uint64_t total = ContentLength(request.get());
  job.total = total;

  win::UniqueFileHandle file;
  bool deleteOnClose = false;
  if (!job.tempPath.empty()) {
    file.reset(CreateFileW(job.tempPath.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return FileError(GetLastError());
    // The file goes when its handle closes, whatever the reason (a failure, a cancelled read,
    // the process ending mid-read with this thread abandoned), until the body is complete.
    deleteOnClose = SetDeleteOnClose(file.get(), true);
  } else if (total > 0 && total <= 64u * 1024 * 1024) {
    body.reserve(static_cast<std::size_t>(total));
  }

  std::vector<char> buffer(file ? kBufferSize : 0);
  std::uint64_t read = 0;
  ULONGLONG lastProgress = 0;
  for (;;) {
    if (job.cancelled) return 0;
    DWORD got = 0;
    char* into = buffer.data();
    if (!file) {  // memory reads land in place
      body.resize(static_cast<std::size_t>(read) + kBufferSize);
      into = body.data() + read;
    }
    if (!InternetReadFile(request.get(), into, kBufferSize, &got)) {
      return static_cast<int>(GetLastError());
    }
    if (!file) body.resize(static_cast<std::size_t>(read) + got);
    if (got == 0) break;
    if (file && !WriteAll(file.get(), buffer.data(), got)) return FileError(GetLastError());
    read += got;
    job.read = read;
    // At most one progress message waits per read, and they come at most every
    // kProgressInterval (waking the UI thread for each buffer costs a third of the throughput
    // under Wine); the UI thread reads the latest count. The last buffer is always reported.
    const ULONGLONG now = GetTickCount64();
    if ((now - lastProgress >= kProgressIntervalMs || read == total) &&
        !job.progressQueued.exchange(true)) {
      lastProgress = now;
      PostMessageW(job.target, kReadMessage, static_cast<WPARAM>(job.id), kProgress);
    }
  }
  // WinINet reports a body cut short as a normal end.
  if (total > 0 && read < total) return kErrBodyShort;
  if (deleteOnClose && !SetDeleteOnClose(file.get(), false)) return kErrPathFileAccess;
  return 0;
}

void Worker(std::shared_ptr<Job> job) {
  std::string body;
  int error = 0;
  try {
    error = Fetch(*job, body);
  } catch (...) {  // nothing may leave a thread entry; only allocation can throw here
    error = kErrOutOfMemory;
    body = std::string();
  }
  job->finished = true;
  if (job->cancelled || error != 0) DeleteTemp(*job);
  if (job->cancelled) return;
  {
    std::lock_guard<std::mutex> lock(job->mutex);
    job->error = error;
    job->body = std::move(body);
  }
  if (!PostMessageW(job->target, kReadMessage, static_cast<WPARAM>(job->id), kComplete)) {
    DeleteTemp(*job);  // the reader is gone
  }
}

class TempFile final : public DownloadedFile {
 public:
  TempFile(std::wstring path, std::uint64_t size) : path_(std::move(path)), size_(size) {}
  ~TempFile() override {
    input_.reset();
    if (!path_.empty()) DeleteFileW(path_.c_str());
  }
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (path_.empty()) return false;
    if (!input_) input_ = InputFile::Open(win::FromWide(path_));
    return input_ && input_->ReadAt(offset, buffer, length);
  }
  int MoveTo(const std::u16string& savePath) override {
    input_.reset();
    const std::wstring target = win::Wide(savePath);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return kErrPathFileAccess;  // a save path without a file name
    }
    if (!MoveFileExW(path_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return FileError(GetLastError());
    }
    path_.clear();
    return 0;
  }

 private:
  std::wstring path_;
  std::uint64_t size_;
  std::optional<InputFile> input_;
};

class WinInetUrlReader final : public UrlReader {
 public:
  WinInetUrlReader() {
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

  int Start(const std::u16string& url, const std::u16string& key,
            const std::u16string& savePath) override {
    if (!window_) return kErrNoThread;
    Cancel(key);
    auto job = std::make_shared<Job>();
    job->id = nextId_++;
    job->key = key;
    job->url = win::Wide(url);
    job->target = window_.get();
    if (!savePath.empty()) {
      // Beside the save path, so the final move stays on one volume.
      job->tempPath = win::Wide(savePath) + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" +
                      std::to_wstring(job->id) + L".part";
    }
    try {
      std::thread(Worker, job).detach();
    } catch (...) {
      return kErrNoThread;
    }
    byKey_[key] = job;
    byId_[job->id] = job;
    return 0;
  }

  bool Cancel(const std::u16string& key) override {
    const auto found = byKey_.find(key);
    if (found == byKey_.end()) return false;
    const std::shared_ptr<Job> job = found->second;
    byKey_.erase(found);
    byId_.erase(job->id);
    job->cancelled = true;
    // The worker deletes its file when it stops; if it already has, the file is ours to delete.
    if (job->finished) DeleteTemp(*job);
    return true;
  }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kReadMessage) {
      auto* self = reinterpret_cast<WinInetUrlReader*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (self) self->OnReadMessage(static_cast<std::uint64_t>(wParam), lParam);
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
    byId_.erase(found);
    byKey_.erase(job->key);
    ReadResult result;
    {
      std::lock_guard<std::mutex> lock(job->mutex);
      result.error = job->error;
      result.body = std::move(job->body);
    }
    if (result.error == 0 && !job->tempPath.empty()) {
      result.file = std::make_unique<TempFile>(job->tempPath, job->read);
    }
    if (sink_) sink_->OnReadComplete(job->key, std::move(result));
  }

  UniqueWindow window_;
  UrlReaderSink* sink_ = nullptr;
  std::uint64_t nextId_ = 1;
  std::map<std::u16string, std::shared_ptr<Job>> byKey_;
  std::map<std::uint64_t, std::shared_ptr<Job>> byId_;
};

}  // namespace

std::unique_ptr<UrlReader> CreateSystemUrlReader() { return std::make_unique<WinInetUrlReader>(); }

}  // namespace sealupdate
