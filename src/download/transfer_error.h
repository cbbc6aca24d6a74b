// Why a transfer failed, as one type from the reader through the downloader to the flow, and the
// one table that turns it into the numbers users and logs see.
#pragma once

#include <cstdint>
#include <string>

namespace sealupdate {

enum class TransferFailure : std::uint8_t {
  kNone,
  kHttpStatus,        // a final answer that is not 2xx; `code` is its status
  kSystem,            // the system refused (WinINet 12xxx ...); `code` is its error number
  kEmptyBody,         // the answer had no body
  kBodyShort,         // fewer bytes arrived than the server announced
  kNoResponse,        // the connection closed before any status line
  kNoThread,          // the background read could not be started
  kTooManyRedirects,  // more than kMaxRedirects
  kRedirectToHttp,    // an https address redirected to plain http
  kBadRedirect,       // a redirect without Location, or to another scheme
  kBodyTooLarge,      // a memory body beyond kMaxMemoryBody
  kContentEncoding,   // a compressed (or otherwise coded) body
  kTooSlow,           // a document past its deadline, a package under the slowest rate kept
  kOutOfMemory,       // a body larger than the address space
  kDiskFull,
  kAccessDenied,  // the file is denied, held open by another process or read-only
  kFileAccess,    // any other file failure
  kPathNotFound,
  kFolderNotCreated,   // the save path's folder could not be created
  kSavePathRefused,    // the package name could land outside its folder
  kIncompletePackage,  // a program package that is no whole image
  kPackageMismatch,    // the package's length or SHA-256 differs from the signed document's
};

struct TransferError {
  TransferFailure kind = TransferFailure::kNone;
  std::uint32_t code = 0;  // the status or error number of kHttpStatus and kSystem (and file kinds)

  constexpr TransferError() = default;
  constexpr TransferError(TransferFailure failure, std::uint32_t detail = 0)  // NOLINT: implicit
      : kind(failure), code(detail) {}
  explicit constexpr operator bool() const { return kind != TransferFailure::kNone; }
  friend constexpr bool operator==(TransferError a, TransferError b) {
    return a.kind == b.kind && a.code == b.code;
  }
  friend constexpr bool operator!=(TransferError a, TransferError b) { return !(a == b); }
};

constexpr TransferError HttpStatusError(std::uint32_t status) {
  return {TransferFailure::kHttpStatus, status};
}
constexpr TransferError SystemError(std::uint32_t code) { return {TransferFailure::kSystem, code}; }

// The number users and logs see: the HTTP status, the system's error number, or the failure's
// own number (70 denied, 71 folder, 8001 empty body ...); 0 for no failure.
int ErrorNumber(TransferError error);
// "HTTP 404", "system error 12029" or "error 8010", for the diagnostic trail.
std::string ErrorText(TransferError error);

}  // namespace sealupdate
