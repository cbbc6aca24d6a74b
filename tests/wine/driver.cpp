// The Windows side of the end-to-end tests: plays the user and hosts the download component,
// printing UTF-8, one fact per line. Exits 0 on success, 1 on failure or time-out, 2 on bad usage.
//   wait TITLE [--visible] [--timeout MS]  until the window exists (and is visible)
//   info TITLE          visible=, rect=, client= (x,y,w,h on the screen), pid=, and per child
//                       control=class|id|x,y,w,h|text (in the client area; \\, \r, \n escaped)
//   click TITLE CAPTION | minimize TITLE | close TITLE   (TITLE "#CLASS": that class's window)
//   msgbox PID ANSWER [--timeout MS]  title= and text= of PID's visible message box, then press
//                       ANSWER (yes, no, ok; wait: nothing)
//   probe PATH          write= and delete=: 1 if another program could write or delete PATH
//   hold                keeps a hidden window until ended: the Wine fixture's keeper
//   download [--get NAME URL SAVE]... [--cancel-at MS NAME] [--linger MS] [--sha256]
//            [--stall MS] [--backoff MS] [--retries N] [--retry-delay MS]
//       the Downloader with the real WinINet reader and the client's message loop; SAVE "-": in
//       memory, then NAME.bin. --cancel-at removes task NAME MS after the start, --linger waits
//       MS after the last task, --retry-delay MS in each retry event. Prints "progress NAME|V|MAX",
//       "retry NAME|N|OF", "complete NAME|ERR|BYTES", "cancelled NAME", "sha256 SAVE|HEX" (with
//       --sha256), then "elapsed_ms N" (first request to last completion), "peak_working_set N".
#include "platform/win32.h"

#include <psapi.h>  // after <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "download/downloader.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

using Args = std::vector<std::wstring>;

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
std::string Utf8(const std::wstring& text) { return Utf16ToUtf8(win::FromWide(text)); }
std::string Number(double value) { return std::to_string(static_cast<long long>(value)); }
std::string Rect(const RECT& r, bool size) {
  return Number(r.left) + "," + Number(r.top) + "," + Number(size ? r.right - r.left : r.right) +
         "," + Number(size ? r.bottom - r.top : r.bottom);
}

// GetWindowText does not read another process's edit control.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0, copied = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 2000, &copied);
  text.resize(copied);
  return text;
}

std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text))
    out += c == '\\' ? "\\\\" : c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
  return out;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

template <typename Pred>
bool WaitFor(const Args& args, DWORD fallbackMs, Pred pred) {
  DWORD timeout = fallbackMs;
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == L"--timeout") timeout = std::stoul(args[i + 1]);
  }
  for (const ULONGLONG end = GetTickCount64() + timeout;; Sleep(20)) {
    if (pred()) return true;
    if (GetTickCount64() >= end) return false;
  }
}

std::vector<HWND> Windows(HWND parent) {  // top-level windows without a parent
  std::vector<HWND> out;
  const auto add = [](HWND h, LPARAM p) -> BOOL {
    reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
    return TRUE;
  };
  if (parent)
    EnumChildWindows(parent, add, reinterpret_cast<LPARAM>(&out));
  else
    EnumWindows(add, reinterpret_cast<LPARAM>(&out));
  return out;
}

int Fail(const std::string& what) {
  Print("error=" + what);
  return 1;
}

int Drive(const Args& args) {
  const std::wstring& cmd = args[0];
  const std::wstring target = args.size() > 1 ? args[1] : L"";
  const auto find = [&] {
    return target[0] == L'#' ? FindWindowW(target.c_str(), nullptr)
                             : FindWindowW(nullptr, target.c_str());
  };
  HWND h = find();
  if (cmd == L"wait") {
    const bool visible = args.size() > 2 && args[2] == L"--visible";
    return WaitFor(args, 10000, [&] { return (h = find()) && (!visible || IsWindowVisible(h)); })
               ? 0
               : Fail("timed out waiting for " + Utf8(target));
  }
  if (cmd == L"hold") {
    const HWND keeper = CreateWindowExW(0, L"STATIC", L"sealupdate-keeper", WS_OVERLAPPED, 0, 0, 0,
                                        0, nullptr, nullptr, nullptr, nullptr);
    if (!keeper) return Fail("no window");
    for (MSG msg{}; GetMessageW(&msg, nullptr, 0, 0) > 0;) DispatchMessageW(&msg);
    return 0;
  }
  if (cmd == L"probe") {
    const win::UniqueFileHandle writer(CreateFileW(
        target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Print("write=" + Number(writer ? 1 : 0) + "\ndelete=" + Number(DeleteFileW(target.c_str())));
    return 0;
  }
  if (cmd == L"msgbox" && args.size() > 2) {
    const DWORD pid = std::stoul(target);
    HWND box = nullptr;
    const bool found = WaitFor(args, 10000, [&] {
      for (HWND w : Windows(nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner == pid && ClassOf(w) == L"#32770" && IsWindowVisible(w))
          return (box = w) != nullptr;
      }
      return false;
    });
    if (!found) return Fail("no message box");
    HWND text = GetDlgItem(box, 0xFFFF);
    Print("title=" + Escaped(TextOf(box)) + "\ntext=" + Escaped(text ? TextOf(text) : L""));
    const int id = args[2] == L"yes" ? IDYES : args[2] == L"no" ? IDNO : IDOK;
    if (args[2] == L"wait") return 0;
    if (!GetDlgItem(box, id)) return Fail("the message box has no such button");
    PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0);  // posted: sent, it would wait for the box
    return 0;
  }
  if (!h) return Fail("no window titled " + Utf8(target));
  if (cmd == L"info") {
    RECT w{}, c{};
    GetWindowRect(h, &w);
    GetClientRect(h, &c);
    MapWindowPoints(h, HWND_DESKTOP, reinterpret_cast<POINT*>(&c), 2);  // on the screen
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    Print("visible=" + Number(IsWindowVisible(h)) + "\nrect=" + Rect(w, false) +
          "\nclient=" + Rect(c, true) + "\npid=" + Number(pid));
    for (HWND child : Windows(h)) {
      RECT r{};  // in the parent's client coordinates
      GetWindowRect(child, &r);
      MapWindowPoints(HWND_DESKTOP, h, reinterpret_cast<POINT*>(&r), 2);
      Print("control=" + Utf8(ClassOf(child)) + "|" + Number(GetDlgCtrlID(child)) + "|" +
            Rect(r, true) + "|" + Escaped(TextOf(child)));
    }
    return 0;
  }
  if (cmd == L"click" && args.size() > 2) {
    for (HWND child : Windows(h)) {
      if (ClassOf(child) == L"Button" && TextOf(child) == args[2]) {
        PostMessageW(child, BM_CLICK, 0, 0);
        return 0;
      }
    }
    return Fail("no button " + Utf8(args[2]));
  }
  if (cmd == L"minimize") return PostMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0) ? 0 : 1;
  if (cmd == L"close") return PostMessageW(h, WM_CLOSE, 0, 0) ? 0 : 1;
  return 2;
}

struct Host final : DownloaderEvents {
  ULONGLONG lastCompletion = 0;
  DWORD retryDelay = 0;  // a busy user-interface thread: later retries are posted meanwhile

  void AddDownloadTask(const std::u16string&, const std::u16string&, const std::u16string&,
                       std::int32_t) override {}
  void DownloadProgress(const std::u16string&, const std::u16string& name, const std::u16string&,
                        double value, double max, const std::u16string&, const std::u16string&,
                        std::int32_t) override {
    Print("progress " + Utf16ToUtf8(name) + "|" + Number(value) + "|" + Number(max));
  }
  void DownloadRetry(const std::u16string&, const std::u16string& name, const std::u16string&,
                     std::int32_t retry, std::int32_t retries) override {
    Print("retry " + Utf16ToUtf8(name) + "|" + Number(retry) + "|" + Number(retries));
    Sleep(retryDelay);
  }
  void DownloadComplete(const std::u16string&, const std::u16string& name, const std::u16string&,
                        const std::string& bytes, TransferError err, std::int32_t) override {
    lastCompletion = GetTickCount64();
    Print("complete " + Utf16ToUtf8(name) + "|" + Number(ErrorNumber(err)) + "|" +
          Number(static_cast<double>(bytes.size())));
    if (!err && !bytes.empty()) WriteWholeFile(name + u".bin", bytes);
  }
};

int Download(const Args& args) {
  Host host;
  std::vector<std::u16string> gets;  // name, URL, save path
  ULONGLONG linger = 0, cancelAt = 0;
  std::u16string cancelName;
  bool hash = false;
  ReaderTuning tuning;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const auto next = [&] { return i + 1 < args.size() ? win::FromWide(args[++i]) : u""; };
    const auto number = [&] { return std::stoul(win::Wide(next())); };
    if (args[i] == L"--get") {
      for (int k = 0; k < 3; ++k) gets.push_back(next());
      if (gets.back() == u"-") gets.back().clear();
    } else if (args[i] == L"--sha256") {
      hash = true;
    } else if (args[i] == L"--cancel-at") {
      cancelAt = number();
      cancelName = next();
    } else if (args[i] == L"--stall") {
      tuning.stallTimeoutMs = number();
    } else if (args[i] == L"--backoff") {
      tuning.firstBackoffMs = number();
    } else if (args[i] == L"--retries") {
      tuning.retriesPerAddress = number();
    } else if (args[i] == L"--retry-delay") {
      host.retryDelay = number();
    } else if (args[i] == L"--linger") {
      linger = number();
    } else {
      return 2;
    }
  }
  auto reader = CreateSystemUrlReader(tuning);
  Downloader dl(*reader, SystemClock(), SystemEventPump(), FolderOf(GetOwnExePath()));
  dl.SetEvents(&host);
  dl.SetHashFileBodies(hash);
  if (hash) {
    dl.SetBodyCheck([](DownloadedFile& body, const std::u16string& savePath) {
      const auto digest = body.Digest();
      Print("sha256 " + Utf16ToUtf8(savePath) + "|" +
            (digest ? HexEncode(digest->data(), digest->size()) : ""));
      return TransferError();
    });
  }
  const ULONGLONG start = GetTickCount64();
  for (std::size_t g = 0; g + 2 < gets.size(); g += 3)
    dl.BeginDownload(gets[g + 1], gets[g], gets[g + 2]);
  // The client's message loop: every notification arrives as a posted message.
  for (ULONGLONG idleSince = 0;; MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT)) {
    SystemEventPump().ProcessPendingEvents();
    if (!cancelName.empty() && GetTickCount64() - start >= cancelAt) {
      if (dl.RemoveTask(cancelName)) Print("cancelled " + Utf16ToUtf8(cancelName));
      cancelName.clear();
    }
    if (dl.TaskCount() != 0) {
      idleSince = 0;
    } else if (idleSince == 0) {
      idleSince = GetTickCount64();
    } else if (GetTickCount64() - idleSince >= linger) {
      break;
    }
  }
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  Print("elapsed_ms " + Number(static_cast<double>(host.lastCompletion - start)) +
        "\npeak_working_set " + Number(static_cast<double>(counters.PeakWorkingSetSize)));
  return 0;
}

}  // namespace
}  // namespace sealupdate

int wmain(int argc, wchar_t** argv) {
  using namespace sealupdate;
  const Args args(argv + 1, argv + argc);
  if (args.empty()) return 2;
  if (args[0] == L"download") return Download(args);
  return Drive(args);
}
