// Reading a sealed client and printing the client's decision for check and release.
#include "client_view.h"

#include "base/encoding.h"
#include "base/text.h"
#include "commands.h"
#include "model/ini_document.h"
#include "platform/files.h"
#include "startup/startup.h"
#include "tool_io.h"

namespace sealupdate::tool {
namespace {

std::string Duration(std::int64_t seconds) {
  if (seconds < 0) seconds = -seconds;
  const std::int64_t days = seconds / 86400, hours = seconds % 86400 / 3600;
  const std::int64_t minutes = seconds % 3600 / 60;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours) + " h";
  return std::to_string(hours) + " h " + std::to_string(minutes) + " min";
}

}  // namespace

std::optional<std::string> ReadSealKeyOption(const ParsedArgs& parsed, SealKey& key) {
  key = BuildSealKey();
  if (const auto hex = parsed.Last("--seal-key")) {
    const auto given = ParseKey(*hex);
    if (!given) return "--seal-key needs 64 hexadecimal digits";
    key = *given;
  }
  return std::nullopt;
}

std::optional<SealedClient> ReadSealedClient(const std::string& path, const SealKey& key,
                                             std::string& problem) {
  const std::u16string wide = Utf8ToUtf16(path);
  if (!InputFile::Open(wide)) {
    problem = "cannot read " + path;
    return std::nullopt;
  }
  const std::u16string text = ReadSealedConfiguration(wide, key);
  IniDocument configuration;
  configuration.SetText(text);
  if (configuration.SectionNames().empty()) {
    problem = path + " carries no sealed configuration for this key";
    return std::nullopt;
  }
  SealedClient client;
  client.config = ReadClientConfig(text, FolderOf(wide), u"");
  ParsePublicKeys(configuration.GetKey(u"UpdateInfo", u"PublicKey", u""), &client.unreadableKeys);
  return client;
}

void PrintClient(const std::string& path, const SealedClient& client, std::ostream& out) {
  out << "client: " << path << ", " << client.config.pinnedKeys.keys.size() << " pinned key(s)";
  if (client.unreadableKeys > 0)
    out << ", " << client.unreadableKeys << " unreadable PublicKey piece(s) ignored";
  out << '\n';
}

std::string RefusalText(DocumentRefusal refusal, const std::optional<UpdateDocument>& document) {
  switch (refusal) {
    case DocumentRefusal::kNone:
      return "accepted";
    case DocumentRefusal::kNotADocument:
      return "no update document ([UpdateInfo] with a Version)";
    case DocumentRefusal::kSignatureMissing:
      return "the client pins keys and the document is not signed";
    case DocumentRefusal::kSignatureInvalid:
      return "no signature verifies under the pinned keys";
    case DocumentRefusal::kDigestMissing:
      return "the signed part lacks Size or SHA256";
    case DocumentRefusal::kMalformedField:
      return document ? document->malformedField : "a field is not in its exact form";
    case DocumentRefusal::kExpired:
      return "expired";
    case DocumentRefusal::kTooLarge:
      return "the document is over " + std::to_string(kMaxDocumentBytes) + " bytes";
    case DocumentRefusal::kVersionUnreadable:
      return "a version part is past the 32-bit range: the versions cannot be compared";
    case DocumentRefusal::kOtherProduct:
      return document && !document->appId.empty()
                 ? "the document is for another product (AppId " + Utf16ToUtf8(document->appId) +
                       ")"
                 : std::string("the client has an AppId and the signed part names none");
    case DocumentRefusal::kNoUsableDownload:
      return "no download address gives a package name the client accepts";
  }
  return "refused";
}

void PrintVersion(const UpdateDecision& decision, const std::string& readFrom, const char* options,
                  std::ostream& out) {
  const std::optional<UpdateDocument>& document = decision.verdict.document;
  const std::optional<UpdateOffer>& offer = decision.offer;
  if (!document) return;
  out << "version: " << Utf16ToUtf8(document->version) << " advertised";
  if (offer && offer->localVersion.empty()) {
    out << "; the document names no main program (MainExeName): compared with 0.0.0.0";
  } else if (offer && readFrom.empty()) {
    out << "; no main program given (" << options << "): compared with 0.0.0.0";
  } else if (offer) {
    const std::optional<bool> newer = IsNewerVersion(offer->version, offer->localVersion);
    out << ", " << Utf16ToUtf8(offer->localVersion) << " in " << readFrom << ": "
        << (!newer   ? "cannot be compared"
            : *newer ? "an update"
                     : "no update");
  }
  out << '\n';
}

void PrintIntegrity(const UpdateDocument& document, std::int64_t now, std::ostream& out) {
  out << "integrity: ";
  if (document.packageSize && document.packageSha256) {
    out << "Size " << *document.packageSize << ", SHA256 "
        << HexEncode(document.packageSha256->data(), document.packageSha256->size());
  } else {
    out << "Size and SHA256 not both given; the package is not checked";
  }
  out << "\nexpires: ";
  if (!document.expires) {
    out << "not given";
  } else {
    const bool ahead = *document.expires > now;
    out << FormatUtc(*document.expires) << (ahead ? ", in " : ", passed ")
        << Duration(*document.expires - now) << (ahead ? "" : " ago");
  }
  out << '\n';
}

void PrintRollout(const UpdateDocument& document, std::ostream& out) {
  if (document.rollout)
    out << "rollout: " << *document.rollout << " % of machines on automatic checks\n";
}

void PrintDownloads(const UpdateOffer& offer, std::ostream& out) {
  int index = 0;
  for (const DownloadCandidate& candidate : offer.plan.Candidates()) {
    out << "download " << ++index << ": " << Utf16ToUtf8(candidate.url) << " -> "
        << (candidate.packageName ? "Update\\" + Utf16ToUtf8(*candidate.packageName)
                                  : std::string("refused: the name could leave Update\\"))
        << '\n';
  }
}

int PrintVerdict(const UpdateDecision& decision, const std::optional<PackageVerdict>& package,
                 std::ostream& out) {
  const std::optional<UpdateOffer>& offer = decision.offer;
  out << "verdict: ";
  if (decision.outcome == UpdateOutcome::kRefused) {
    out << "refused: " << RefusalText(decision.refusal, decision.verdict.document) << '\n';
    return kExitFailed;
  }
  if (package && *package != PackageVerdict::kAccepted) {
    out << "refused: the package "
        << (*package == PackageVerdict::kMismatch ? "differs from the document's Size or SHA256"
                                                  : "is no whole program image")
        << '\n';
    return kExitFailed;
  }
  if (decision.outcome == UpdateOutcome::kNotInRollout) {
    out << "not in the rollout: bucket ";
    if (decision.rolloutBucket) {
      out << *decision.rolloutBucket;
    } else {
      out << "none";
    }
    out << " is not below " << *decision.verdict.document->rollout
        << "; automatic checks behave as up to date, a user's check offers "
        << Utf16ToUtf8(offer->version) << '\n';
    return kExitNoUpdate;
  }
  if (decision.outcome == UpdateOutcome::kUpToDate) {
    out << "no update: " << Utf16ToUtf8(offer->localVersion) << " is not older than "
        << Utf16ToUtf8(offer->version) << '\n';
    return kExitNoUpdate;
  }
  out << "accepted: the client would offer " << Utf16ToUtf8(offer->version) << '\n';
  return kExitOk;
}

}  // namespace sealupdate::tool
