// The WinINet calls of one request: open, headers, redirects, status, length, validator, body.
#include "download/internet_request_win.h"

#include "download/url_policy.h"

namespace sealupdate {
namespace {

// Redirects are followed by Send, not by WinINet (which follows any number, to any scheme, and
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

}  // namespace

TransferError InternetRequest::Send(std::u16string_view address, std::uint64_t offset,
                                    const std::u16string& validator,
                                    const std::atomic<bool>& cancelled,
                                    std::atomic<ULONGLONG>& alive) {
  // The system proxy settings apply; certificate and host name checks stay on.
  session_.reset(InternetOpenW(L"sealupdate", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session_) return SystemError(GetLastError());
  std::u16string url = StripFragment(address);
  std::wstring headers = kRequestHeaders;
  if (offset > 0) {
    headers += L"Range: bytes=" + std::to_wstring(offset) + L"-\r\nIf-Range: " +
               win::Wide(validator) + L"\r\n";
  }
  for (int followed = 0;; ++followed) {
    // The redirect's request closes here: its close keeps the error of the open that failed.
    request_.reset(InternetOpenUrlW(session_.get(), win::Wide(url).c_str(), headers.c_str(),
                                    static_cast<DWORD>(-1), kRequestFlags, 0));
    if (!request_) return SystemError(GetLastError());
    alive = GetTickCount64();
    if (cancelled) return {};
    status_ = 0;
    DWORD size = sizeof status_;
    DWORD index = 0;
    if (!HttpQueryInfoW(request_.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status_,
                        &size, &index)) {
      // Not HTTP (ftp ...): no status to check.
      if (GetLastError() == ERROR_INTERNET_INCORRECT_HANDLE_TYPE) return {};
      return TransferFailure::kNoResponse;
    }
    if (status_ == 0) return TransferFailure::kNoResponse;  // closed before any status line
    if (IsRedirectStatus(status_)) {
      const RedirectStep step = NextRedirect(url, Header(HTTP_QUERY_LOCATION), followed);
      if (step.error) return step.error;
      url = step.url;
      continue;
    }
    if (status_ < 200 || status_ > 299) return HttpStatusError(status_);  // body not kept
    if (IsIdentityEncoding(Header(HTTP_QUERY_CONTENT_ENCODING))) return {};
    return TransferFailure::kContentEncoding;
  }
}

std::u16string InternetRequest::Header(DWORD what) const {
  std::wstring text(128, L'\0');
  DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  DWORD index = 0;
  if (!HttpQueryInfoW(request_.get(), what, text.data(), &size, &index)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    text.assign(size / sizeof(wchar_t) + 1, L'\0');
    index = 0;
    if (!HttpQueryInfoW(request_.get(), what, text.data(), &size, &index)) return {};
  }
  text.resize(size / sizeof(wchar_t));
  return win::FromWide(text);
}

std::uint64_t InternetRequest::ContentLength() const {
  const std::u16string text = Header(HTTP_QUERY_CONTENT_LENGTH);
  std::uint64_t value = 0;
  for (const char16_t* c = text.c_str(); *c >= u'0' && *c <= u'9'; ++c) {
    if (value > (UINT64_MAX - 9) / 10) return 0;
    value = value * 10 + static_cast<std::uint64_t>(*c - u'0');
  }
  return value;
}

std::u16string InternetRequest::Validator() const {
  const std::u16string tag = Header(HTTP_QUERY_ETAG);
  if (!tag.empty() && tag.rfind(u"W/", 0) != 0) return tag;
  return Header(HTTP_QUERY_LAST_MODIFIED);
}

TransferError InternetRequest::Available(DWORD& arrived) {
  arrived = 0;
  if (!InternetQueryDataAvailable(request_.get(), &arrived, 0, 0)) {
    return SystemError(GetLastError());
  }
  return {};
}

TransferError InternetRequest::Read(char* buffer, DWORD size, DWORD& got) {
  got = 0;
  if (!InternetReadFile(request_.get(), buffer, size, &got)) return SystemError(GetLastError());
  return {};
}

}  // namespace sealupdate
