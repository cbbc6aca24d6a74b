// The rules sign and release share for a document about to be published: what a client would
// refuse or misread is refused before anything is written, private keys are read with a word
// about one others can read, and the signature lines are made and proven with the client's own
// verification.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "model/document_trust.h"
#include "platform/files.h"

namespace sealupdate::tool {

// --expires: a number of days, 1-36500.
std::optional<int> ParseDays(const std::string& text);

// --rollout: a whole percentage, 0-100, as the client reads Rollout.
std::optional<int> ParseRollout(const std::string& text);

struct SigningKey {
  std::string path;
  std::string pem;  // PKCS#8
};
// Reads each private-key file; one that others may read gets a warning on `err` naming
// `command`. nullopt with `unreadable` set to the first path that cannot be read.
std::optional<std::vector<SigningKey>> ReadSigningKeys(const std::vector<std::string>& paths,
                                                       const char* command, std::ostream& err,
                                                       std::string& unreadable);

// Empty when the version is one to four decimal numbers joined by dots, each in the 32-bit
// signed range: every client reads such a version alike. Else why it is not.
std::string VersionProblem(std::u16string_view version);

// What a client would refuse or misread in the finished document (its signed part): no
// document, a malformed field, a version VersionProblem refuses, an address whose package name
// the client refuses, more than kMaxDocumentBytes; with `package`, an ".exe" name it would be
// saved under when it is no whole program image. Empty when there is nothing.
std::string DocumentProblem(std::string_view document, InputFile* package);

// `body` (CR LF line ends, ending with one) and its [Signature] section, one P256 line per key,
// each verified under its own key; `anchors` pins exactly those keys, in order. nullopt with
// `problem` set when a key cannot sign.
std::optional<std::string> SignBody(const std::string& body, const std::vector<SigningKey>& keys,
                                    TrustAnchors& anchors, std::string& problem);

}  // namespace sealupdate::tool
