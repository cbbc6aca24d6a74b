// Plays the user for the end-to-end tests: finds a window by its exact title, reports its state
// and the texts of its controls, presses buttons and answers message boxes. Runs under Wine next
// to the client; prints UTF-8, one fact per line, and exits 0 on success, 1 on failure or
// time-out, 2 on bad usage.
//
//   driver wait TITLE [--visible] [--timeout MS]   wait until the window exists (and is visible)
//   driver info TITLE                              visible=, rect=, client=, pid=
//   driver texts TITLE                             one line per child:
//                                                  class|id|visible|x,y,w,h|text
//                                                  (text with \\, \r and \n escaped)
//   driver click TITLE CAPTION                     post BM_CLICK to the button with that caption
//   driver minimize TITLE                          minimize as the title-bar button does
//   driver popup any [--timeout MS]                wait for an open popup menu, print its rect
//   driver close TITLE                             post WM_CLOSE
//   driver gone TITLE [--timeout MS]               wait until no window has that title
//   driver msgbox PID ANSWER [--timeout MS]        wait for a visible message box of process PID,
//                                                  print its title and text, press ANSWER
//                                                  (yes, no, ok, cancel; wait: press nothing)
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

std::string Utf8(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr,
                      nullptr);
  return out;
}

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Reads another process's control text; GetWindowText does not for edits of other processes.
std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, 2000, &copied);
  text.resize(copied);
  return text;
}

// One line per control: line breaks and backslashes in a text are escaped.
std::string Escaped(const std::wstring& text) {
  std::string out;
  for (char c : Utf8(text)) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[256] = {};
  GetClassNameW(hwnd, name, 256);
  return name;
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> out;
  EnumChildWindows(
      parent,
      [](HWND h, LPARAM p) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&out));
  return out;
}

template <typename Pred>
bool WaitFor(DWORD timeoutMs, Pred pred) {
  const ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    if (pred()) return true;
    if (GetTickCount64() >= end) return false;
    Sleep(20);
  }
}

DWORD TimeoutArg(const std::vector<std::wstring>& args, DWORD fallback) {
  for (std::size_t i = 0; i + 1 < args.size(); ++i) {
    if (args[i] == L"--timeout")
      return static_cast<DWORD>(std::wcstoul(args[i + 1].c_str(), nullptr, 10));
  }
  return fallback;
}

bool HasFlag(const std::vector<std::wstring>& args, const wchar_t* flag) {
  for (const auto& a : args) {
    if (a == flag) return true;
  }
  return false;
}

HWND Find(const std::wstring& title) { return FindWindowW(nullptr, title.c_str()); }

HWND Need(const std::wstring& title) {
  HWND h = Find(title);
  if (!h) Print("error=no window titled " + Utf8(title));
  return h;
}

struct MsgBoxSearch {
  DWORD pid;
  HWND found;
};

HWND FindMessageBox(DWORD pid) {
  MsgBoxSearch search{pid, nullptr};
  EnumWindows(
      [](HWND h, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<MsgBoxSearch*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(h, &owner);
        if (owner == s->pid && ClassOf(h) == L"#32770" && IsWindowVisible(h)) {
          s->found = h;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Run(const std::vector<std::wstring>& args) {
  if (args.size() < 2) return 2;
  const std::wstring& cmd = args[0];
  const std::wstring& target = args[1];

  if (cmd == L"wait") {
    const bool visible = HasFlag(args, L"--visible");
    const bool ok = WaitFor(TimeoutArg(args, 10000), [&] {
      HWND h = Find(target);
      return h && (!visible || IsWindowVisible(h));
    });
    if (!ok) Print("error=timed out waiting for " + Utf8(target));
    return ok ? 0 : 1;
  }
  if (cmd == L"gone") {
    const bool ok = WaitFor(TimeoutArg(args, 10000), [&] { return Find(target) == nullptr; });
    if (!ok) Print("error=window still present: " + Utf8(target));
    return ok ? 0 : 1;
  }
  if (cmd == L"info") {
    HWND h = Need(target);
    if (!h) return 1;
    RECT w{}, c{};
    GetWindowRect(h, &w);
    GetClientRect(h, &c);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    char line[256];
    std::snprintf(line, sizeof line, "visible=%d\nrect=%ld,%ld,%ld,%ld\nclient=%ld,%ld\npid=%lu",
                  IsWindowVisible(h) ? 1 : 0, w.left, w.top, w.right, w.bottom, c.right, c.bottom,
                  pid);
    Print(line);
    Print("screen=" + std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "," +
          std::to_string(GetSystemMetrics(SM_CYSCREEN)));
    return 0;
  }
  if (cmd == L"texts") {
    HWND h = Need(target);
    if (!h) return 1;
    Print("window|0|" + std::to_string(IsWindowVisible(h) ? 1 : 0) + "|0,0,0,0|" +
          Escaped(TextOf(h)));
    for (HWND child : Children(h)) {
      // The child's rectangle in the parent's client coordinates.
      RECT r{};
      GetWindowRect(child, &r);
      MapWindowPoints(HWND_DESKTOP, h, reinterpret_cast<POINT*>(&r), 2);
      char rect[96];
      std::snprintf(rect, sizeof rect, "%ld,%ld,%ld,%ld", r.left, r.top, r.right - r.left,
                    r.bottom - r.top);
      Print(Utf8(ClassOf(child)) + "|" + std::to_string(GetDlgCtrlID(child)) + "|" +
            std::to_string(IsWindowVisible(child) ? 1 : 0) + "|" + rect + "|" +
            Escaped(TextOf(child)));
    }
    return 0;
  }
  if (cmd == L"click" && args.size() >= 3) {
    HWND h = Need(target);
    if (!h) return 1;
    for (HWND child : Children(h)) {
      if (ClassOf(child) == L"Button" && TextOf(child) == args[2]) {
        // Posted: a click that opens a modal message box would block a sent message.
        PostMessageW(child, BM_CLICK, 0, 0);
        return 0;
      }
    }
    Print("error=no button " + Utf8(args[2]));
    return 1;
  }
  if (cmd == L"popup") {  // the screen rectangle of the open popup menu
    HWND menu = nullptr;
    const bool ok = WaitFor(TimeoutArg(args, 5000), [&] {
      menu = FindWindowW(L"#32768", nullptr);
      return menu && IsWindowVisible(menu);
    });
    if (!ok) {
      Print("error=no popup menu");
      return 1;
    }
    RECT r{};
    GetWindowRect(menu, &r);
    char line[96];
    std::snprintf(line, sizeof line, "rect=%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    Print(line);
    return 0;
  }
  if (cmd == L"minimize") {  // as the title bar's minimize button does
    HWND h = Need(target);
    if (!h) return 1;
    PostMessageW(h, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    return 0;
  }
  if (cmd == L"close") {
    HWND h = Need(target);
    if (!h) return 1;
    PostMessageW(h, WM_CLOSE, 0, 0);
    return 0;
  }
  if (cmd == L"msgbox" && args.size() >= 3) {
    const DWORD pid = static_cast<DWORD>(std::wcstoul(target.c_str(), nullptr, 10));
    HWND box = nullptr;
    if (!WaitFor(TimeoutArg(args, 10000), [&] { return (box = FindMessageBox(pid)) != nullptr; })) {
      Print("error=no message box");
      return 1;
    }
    Print("title=" + Escaped(TextOf(box)));
    HWND text = GetDlgItem(box, 0xFFFF);
    Print("text=" + Escaped(text ? TextOf(text) : L""));
    const std::wstring& answer = args[2];
    if (answer == L"wait") return 0;
    const int id = answer == L"yes"      ? IDYES
                   : answer == L"no"     ? IDNO
                   : answer == L"cancel" ? IDCANCEL
                                         : IDOK;
    HWND button = GetDlgItem(box, id);
    if (!button) {
      Print("error=message box has no such button");
      return 1;
    }
    PostMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  const int rc = Run(args);
  if (rc == 2)
    Print("usage: driver wait|info|texts|click|popup|minimize|close|gone|msgbox ... (see source)");
  return rc;
}
