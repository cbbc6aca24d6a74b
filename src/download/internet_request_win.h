// One WinINet request with a session of its own: sent with the reader's headers, its redirects
// followed under url_policy.h's rules, its answer's headers and body read.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/transfer_error.h"
#include "platform/win32.h"

namespace sealupdate {

class InternetRequest {
 public:
  // Requests `address` (its fragment not sent), for the body from `offset` on when > 0 (Range, with
  // If-Range `validator`), and follows its redirects: no error once a final answer is 2xx with
  // an uncoded body (or its protocol has no status). Stops early, with no error, once
  // `cancelled`. Sets `alive` whenever the server answers.
  TransferError Send(std::u16string_view address, std::uint64_t offset,
                     const std::u16string& validator, const std::atomic<bool>& cancelled,
                     std::atomic<ULONGLONG>& alive);

  DWORD Status() const { return status_; }  // 0 when the protocol has none
  // A header of the answer (HTTP_QUERY_...); empty when absent.
  std::u16string Header(DWORD what) const;
  std::uint64_t ContentLength() const;  // 0 when absent or unreadable
  // What tells this body from a changed one in If-Range: a strong ETag, else Last-Modified;
  // empty when neither (a weak ETag never matches there).
  std::u16string Validator() const;

  // Waits until some of the body is there (or it ended) and tells how much.
  TransferError Available(DWORD& arrived);
  // Reads up to `size` bytes of the body; `got` 0 at its end.
  TransferError Read(char* buffer, DWORD size, DWORD& got);

 private:
  // Closed in this order (the request before its session) when the owner is done; closing
  // takes WinINet a while.
  win::UniqueInternet session_;
  win::UniqueInternet request_;
  DWORD status_ = 0;
};

}  // namespace sealupdate
