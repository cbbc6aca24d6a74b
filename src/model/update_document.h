// The update document a server publishes: an INI text whose [UpdateInfo] section names the new
// version, the package addresses and the executables to end. Reading it is separate from the
// window so the tool and the tests use the same rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace sealupdate {

// The most an update document may hold: the client stops reading at this bound and the tool
// refuses a larger document, so nothing a server sends can fill the memory.
inline constexpr std::uint64_t kMaxDocumentBytes = 4 * 1024 * 1024;

struct UpdateDocument {
  std::u16string version;
  std::u16string homeUrl;
  std::u16string appId;  // the product the document is for, trimmed; empty when not named
  std::u16string modifySuffix;
  std::u16string updateText;  // empty when the document carries none (or only spaces)
  std::vector<std::u16string> downloadUrls;  // as written, split at "|"
  std::vector<std::u16string> mainExeNames;  // MainExeName, then KillExeName, split at "|"
  // Integrity: the package's length and SHA-256, and the moment the document stops being valid
  // (seconds since 1970 UTC). Absent when the document does not give them.
  std::optional<std::uint64_t> packageSize;
  std::optional<Sha256Digest> packageSha256;
  std::optional<std::int64_t> expires;
  // The share of machines, in percent, whose automatic checks offer this update; absent: all.
  std::optional<int> rollout;
  // Size, SHA256, Expires or Rollout is given but not exactly a decimal length, 64 hex digits,
  // YYYY-MM-DDTHH:MM:SSZ or an integer from 0 to 100: such a document is refused, never read as
  // if the field were absent. Says which field and the form it lacks ("Expires is not
  // YYYY-MM-DDTHH:MM:SSZ"); empty when every field is well formed.
  std::string malformedField;
};

// The document's bytes as text: UTF-8 after its byte-order mark, UTF-16 (either byte order)
// after its byte-order mark, otherwise the ANSI code page. Line ends of any kind (CR LF, LF, CR)
// come out as CR LF.
std::u16string DecodeUpdateDocument(std::string_view bytes);

// nullopt when the bytes are no update document: no [UpdateInfo] section, or a Version without
// any digit. Such an answer (an HTML page, a login portal, garbage) must never read as "up to
// date".
std::optional<UpdateDocument> ParseUpdateDocument(std::string_view bytes);

}  // namespace sealupdate
