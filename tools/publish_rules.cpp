// Refusals, key reading and signing shared by sign and release.
#include "publish_rules.h"

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "base/encoding.h"
#include "base/text.h"
#include "model/addresses.h"
#include "model/update_decision.h"
#include "model/update_document.h"
#include "signing.h"
#include "tool_io.h"

namespace sealupdate::tool {

std::optional<int> ParseRollout(const std::string& text) {
  if (text.empty() || text.size() > 3 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) > 100)
    return std::nullopt;
  return std::stoi(text);
}

std::optional<int> ParseDays(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int days = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    days = days * 10 + (c - '0');
  }
  if (days < 1 || days > 36500) return std::nullopt;
  return days;
}

std::optional<std::vector<SigningKey>> ReadSigningKeys(const std::vector<std::string>& paths,
                                                       const char* command, std::ostream& err,
                                                       std::string& unreadable) {
  std::vector<SigningKey> keys;
  for (const std::string& path : paths) {
    std::optional<std::string> pem = ReadFile(path);
    if (!pem) {
      unreadable = path;
      return std::nullopt;
    }
#ifndef _WIN32  // access lists, not mode bits, guard a file on Windows
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::perms mode = fs::status(fs::u8path(path), error).permissions();
    if (!error && (mode & (fs::perms::group_read | fs::perms::others_read)) != fs::perms::none)
      err << "sealupdate-tool " << command << ": warning: others may read the private key " << path
          << " (chmod 600 " << path << ")\n";
#else
    (void)command, (void)err;
#endif
    keys.push_back({path, std::move(*pem)});
  }
  return keys;
}

std::string VersionProblem(std::u16string_view version) {
  const std::u16string trimmed = TrimSpaces(version);
  const std::vector<std::u16string> parts = Split(trimmed, u".");
  bool fine = parts.size() <= 4;
  for (const std::u16string& part : parts) {
    fine = fine && !part.empty() && part.size() <= 10 &&
           part.find_first_not_of(u"0123456789") == std::u16string::npos &&
           std::stoll(Utf16ToUtf8(part)) <= INT32_MAX;
  }
  if (fine) return "";
  return "Version " + Utf16ToUtf8(trimmed) +
         " is not one to four numbers joined by dots (each 0-2147483647)";
}

std::string DocumentProblem(std::string_view document, InputFile* package) {
  if (document.size() > kMaxDocumentBytes)
    return "the document is " + std::to_string(document.size()) + " bytes, over the " +
           std::to_string(kMaxDocumentBytes) + " a client reads";
  const std::optional<UpdateDocument> read =
      ParseUpdateDocument(SplitSignedDocument(document).signedBytes);
  if (!read) return "no update document ([UpdateInfo] with a Version)";
  if (!read->malformedField.empty()) return read->malformedField;
  if (std::string problem = VersionProblem(read->version); !problem.empty()) return problem;
  for (const std::u16string& address : read->downloadUrls) {
    if (TrimSpaces(address).empty()) continue;  // the client skips it too
    const std::optional<std::u16string> name =
        PackageFileName(CompleteAddress(address), read->modifySuffix);
    if (!name) {
      return "the client refuses the package name of " + Utf16ToUtf8(address) +
             " (it could leave Update\\ or is no plain file name)";
    }
    if (!package) continue;
    if (CheckPackage({}, *name, *package, std::nullopt) != PackageVerdict::kAccepted)
      return "the package is no whole program image, and is saved as " + Utf16ToUtf8(*name);
  }
  return "";
}

std::optional<std::string> SignBody(const std::string& body, const std::vector<SigningKey>& keys,
                                    TrustAnchors& anchors, std::string& problem) {
  std::string document = body + "[Signature]\r\n";
  anchors = TrustAnchors{true, {}};
  for (const SigningKey& key : keys) {
    const std::optional<Signed> made = SignP256(key.pem, body, problem);
    if (!made) {
      problem = key.path + ": " + problem;
      return std::nullopt;
    }
    document += "P256=" + Base64Encode(made->signature.data(), made->signature.size()) + "\r\n";
    anchors.keys.push_back(made->publicKey);
  }
  for (std::size_t k = 0; k < keys.size(); ++k) {
    const TrustAnchors one{true, {anchors.keys[k]}};
    if (CheckUpdateDocument(document, one, std::time(nullptr)).signature !=
        SignatureStatus::kValid) {
      problem = "the signature of " + keys[k].path + " does not verify";
      return std::nullopt;
    }
  }
  return document;
}

}  // namespace sealupdate::tool
