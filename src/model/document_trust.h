// Whether an update document may be trusted: its signature against the keys pinned in the
// sealed configuration, its integrity fields and its expiry. One verdict for the client and for
// the tool's dry run, so both refuse the same documents.
//
// A signed document is its signed bytes, then a line that is exactly "[Signature]" (at the very
// start or after any line end, and ended by a line end or the end), then lines
// "P256=<base64 of r||s>". A signature verifies over the signed bytes as they are, or over the
// signed text: those bytes with every line end written as CR LF (CR LF, a lone LF and a lone CR
// are one line end each; LF CR is two), so line-end conversion on the way does not break it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/update_document.h"
#include "platform/crypto.h"

namespace sealupdate {

// The bytes with every line end (CR LF, lone LF, lone CR) written as CR LF; nothing else changes.
std::string CrLfLineEnds(std::string_view bytes);

struct SignedDocument {
  std::string_view signedBytes;  // the whole document when it has no signature line
  std::string signedText;        // signedBytes with CR LF line ends (when there is a signature)
  bool hasSignatureSection = false;
  std::vector<P256Signature> signatures;  // well-formed P256= lines only
};
SignedDocument SplitSignedDocument(std::string_view bytes);

// The keys a sealed client trusts. `required` once the configuration names any PublicKey, even
// one that cannot be read: such a client then accepts no document rather than every document.
struct TrustAnchors {
  bool required = false;
  std::vector<P256PublicKey> keys;
};
// `text` holds public-key lines (base64 of 04||X||Y) separated by "|"; `invalidPieces` counts
// those that are not one.
TrustAnchors ParsePublicKeys(std::u16string_view text, int* invalidPieces = nullptr);
std::u16string FormatPublicKey(const P256PublicKey& key);

// Seconds since 1970-01-01 UTC of "YYYY-MM-DDTHH:MM:SSZ"; nullopt for anything else.
std::optional<std::int64_t> ParseUtcTime(std::u16string_view text);

enum class SignatureStatus { kNotRequired, kValid, kInvalid, kMissing };
enum class DocumentRefusal {
  kNone,
  kNotADocument,      // no [UpdateInfo] or no version: the answer is not a document at all
  kSignatureMissing,  // keys are pinned and no signature line
  kSignatureInvalid,  // keys are pinned and no signature verifies
  kDigestMissing,     // keys are pinned and the signed part lacks Size or SHA256
  kMalformedField,    // Size, SHA256 or Expires is there but not in its exact form
  kExpired,
  // Refusals of the update decision, beyond the document's trust:
  kTooLarge,           // over kMaxDocumentBytes
  kVersionUnreadable,  // a version part (advertised or installed) past the 32-bit range
  kNoUsableDownload,   // no download address gives a package name the client accepts
  kOtherProduct,       // pinned keys and an AppId: the signed part names another product or none
};

// The refusal in a few English words, for the diagnostic trail ("signature invalid").
const char* RefusalName(DocumentRefusal refusal);

struct DocumentVerdict {
  DocumentRefusal refusal = DocumentRefusal::kNone;
  SignatureStatus signature = SignatureStatus::kNotRequired;
  int keyIndex = -1;  // the pinned key that verified
  // What the client reads: with pinned keys only the signed part. Set whenever it parsed, also
  // for a refused document, so a dry run can show it.
  std::optional<UpdateDocument> document;
  bool accepted() const { return refusal == DocumentRefusal::kNone; }
};

DocumentVerdict CheckUpdateDocument(std::string_view bytes, const TrustAnchors& anchors,
                                    std::int64_t nowUtcSeconds);

}  // namespace sealupdate
