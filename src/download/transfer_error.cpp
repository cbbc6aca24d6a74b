// The numbers of the transfer failures. Stored logs and the tests read them: they never change.
#include "download/transfer_error.h"

namespace sealupdate {

int ErrorNumber(TransferError error) {
  switch (error.kind) {
    case TransferFailure::kNone:
      return 0;
    case TransferFailure::kHttpStatus:
    case TransferFailure::kSystem:
      return static_cast<int>(error.code);
    case TransferFailure::kOutOfMemory:
      return 7;
    case TransferFailure::kDiskFull:
      return 61;
    case TransferFailure::kAccessDenied:
      return 70;
    case TransferFailure::kFolderNotCreated:
      return 71;
    case TransferFailure::kFileAccess:
      return 75;
    case TransferFailure::kPathNotFound:
      return 76;
    case TransferFailure::kEmptyBody:
      return 8001;
    case TransferFailure::kBodyShort:
      return 8002;
    case TransferFailure::kNoResponse:
      return 8003;
    case TransferFailure::kNoThread:
      return 8004;
    case TransferFailure::kTooManyRedirects:
      return 8005;
    case TransferFailure::kRedirectToHttp:
      return 8006;
    case TransferFailure::kBadRedirect:
      return 8007;
    case TransferFailure::kBodyTooLarge:
      return 8008;
    case TransferFailure::kContentEncoding:
      return 8009;
    case TransferFailure::kTooSlow:
      return 8010;
    case TransferFailure::kSavePathRefused:
      return 8021;
    case TransferFailure::kIncompletePackage:
      return 8022;
    case TransferFailure::kPackageMismatch:
      return 8023;
  }
  return -1;
}

std::string ErrorText(TransferError error) {
  const std::string number = std::to_string(ErrorNumber(error));
  switch (error.kind) {
    case TransferFailure::kHttpStatus:
      return "HTTP " + number;
    case TransferFailure::kSystem:
      return "system error " + number;
    default:
      return "error " + number;
  }
}

}  // namespace sealupdate
