// Baseline of the check benchmark: one WinINet GET of a document into memory, then exit. The
// silent check of the client is timed against this.
#include <string>

#include "platform/win32.h"
// After <windows.h>:
#include <wininet.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HINTERNET session = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (!session) return 1;
  HINTERNET url = InternetOpenUrlW(
      session, argv[1], nullptr, 0,
      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
  int rc = 1;
  if (url) {
    std::string body;
    char buffer[65536];
    DWORD read = 0;
    while (InternetReadFile(url, buffer, sizeof buffer, &read) && read > 0)
      body.append(buffer, read);
    rc = body.empty() ? 1 : 0;
    InternetCloseHandle(url);
  }
  InternetCloseHandle(session);
  return rc;
}
