// `check`: the client's own update decision on a document (and a package), printed line by line
// for the publisher before anything is uploaded.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "commands.h"
#include "model/client_config.h"
#include "model/ini_document.h"
#include "model/update_decision.h"
#include "model/update_document.h"
#include "model/version_info.h"
#include "options.h"
#include "platform/files.h"
#include "startup/startup.h"
#include "tool_io.h"

namespace sealupdate::tool {
namespace {

std::string RefusalText(DocumentRefusal refusal, const std::optional<UpdateDocument>& document) {
  switch (refusal) {
    case DocumentRefusal::kNone:
      return "accepted";
    case DocumentRefusal::kNotADocument:
      return "no update document ([UpdateInfo] with a Version)";
    case DocumentRefusal::kSignatureMissing:
      return "the client pins keys and the document carries no usable signature";
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

std::string Duration(std::int64_t seconds) {
  if (seconds < 0) seconds = -seconds;
  const std::int64_t days = seconds / 86400, hours = seconds % 86400 / 3600;
  const std::int64_t minutes = seconds % 3600 / 60;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours) + " h";
  return std::to_string(hours) + " h " + std::to_string(minutes) + " min";
}

// A [Signature] line in a UTF-16 document cannot be found as bytes: say so rather than
// "missing" for a file that visibly has one.
bool IsUtf16WithSignature(std::string_view bytes) {
  if (bytes.substr(0, 2) != "\xFF\xFE" && bytes.substr(0, 2) != "\xFE\xFF") return false;
  return DecodeUpdateDocument(bytes).find(u"[Signature]") != std::u16string::npos;
}

void PrintSignature(const DocumentVerdict& verdict, const TrustAnchors& anchors,
                    std::size_t signatureLines, bool haveClient, bool utf16, std::ostream& out) {
  out << "signature: ";
  switch (verdict.signature) {
    case SignatureStatus::kNotRequired:
      out << "not required (" << (haveClient ? "the client pins no key" : "no --client given")
          << "; the document carries " << signatureLines << " P256 line(s))";
      break;
    case SignatureStatus::kValid:
      out << "valid, pinned key " << verdict.keyIndex + 1 << " of " << anchors.keys.size() << " ("
          << PublicKeyText(anchors.keys[static_cast<std::size_t>(verdict.keyIndex)]) << ")";
      break;
    case SignatureStatus::kInvalid:
      out << "invalid (" << signatureLines << " P256 line(s), none verifies under the "
          << anchors.keys.size() << " pinned key(s))";
      break;
    case SignatureStatus::kMissing:
      out << (utf16 ? "unusable: the document is UTF-16: a signed document must be UTF-8 or ANSI"
                    : "missing");
      break;
  }
  out << '\n';
}

void PrintDocument(const UpdateDocument& document, std::int64_t now, std::ostream& out) {
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

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kCheckCommand;
  ParsedArgs parsed;
  if (const auto problem = ParseArgs(
          args,
          {{"--client"}, {"--main"}, {"--package"}, {"--seal-key"}, {"--key", false, "--seal-key"}},
          parsed))
    return UsageError(command, *problem, err);
  if (parsed.files.size() != 1) return UsageError(command, "needs exactly one DOC", err);
  SealKey sealKey = BuildSealKey();
  if (const auto hex = parsed.Last("--seal-key")) {
    const auto key = ParseKey(*hex);
    if (!key) return UsageError(command, "--seal-key needs 64 hexadecimal digits", err);
    sealKey = *key;
  }
  const std::optional<std::string> client = parsed.Last("--client");
  const std::optional<std::string> mainProgram = parsed.Last("--main");
  const std::optional<std::string> package = parsed.Last("--package");

  const auto bytes = ReadFile(parsed.files[0]);
  if (!bytes) return UsageError(command, "cannot read " + parsed.files[0], err);
  std::optional<std::pair<std::uint64_t, Sha256Digest>> hashed;
  std::optional<InputFile> packageFile;
  if (package &&
      (!(hashed = HashFile(*package)) || !(packageFile = InputFile::Open(Utf8ToUtf16(*package)))))
    return UsageError(command, "cannot read " + *package, err);
  if (mainProgram && !InputFile::Open(Utf8ToUtf16(*mainProgram)))
    return UsageError(command, "cannot read the main program " + *mainProgram, err);

  ClientConfig config;
  if (client) {
    const std::u16string path = Utf8ToUtf16(*client);
    if (!InputFile::Open(path)) return UsageError(command, "cannot read " + *client, err);
    const std::u16string text = ReadSealedConfiguration(path, sealKey);
    IniDocument configuration;
    configuration.SetText(text);
    if (configuration.SectionNames().empty())
      return UsageError(command, *client + " carries no sealed configuration for this key", err);
    config = ReadClientConfig(text, FolderOf(path), u"");
    int unreadable = 0;
    ParsePublicKeys(configuration.GetKey(u"UpdateInfo", u"PublicKey", u""), &unreadable);
    out << "client: " << *client << ", " << config.pinnedKeys.keys.size() << " pinned key(s)";
    if (unreadable > 0) out << ", " << unreadable << " unreadable PublicKey piece(s) ignored";
    out << '\n';
  }
  if (!config.pinnedKeys.required) {
    err << "sealupdate-tool check: warning: "
        << (client ? "the client" : "a client without --client")
        << " pins no key: any network can hand it any document\n";
  }

  // The client reads the main program beside itself; --main names another file, and without
  // either nothing is read and the client's "no version" applies.
  std::string readFrom;
  const LocalVersionReader readVersion = [&](const std::u16string& path) -> std::u16string {
    const std::u16string file =
        mainProgram ? Utf8ToUtf16(*mainProgram) : (client ? path : std::u16string());
    readFrom = Utf16ToUtf8(file);
    if (file.empty()) return u"";
    const std::optional<VersionInfo> info = ReadVersionInfo(file);
    return info ? info->fileVersion : u"";
  };
  const std::int64_t now = std::time(nullptr);
  const UpdateDecision decision = EvaluateUpdate(config, *bytes, readVersion, now);
  const std::optional<UpdateDocument>& document = decision.verdict.document;
  const std::optional<UpdateOffer>& offer = decision.offer;

  if (document) {
    out << "version: " << Utf16ToUtf8(document->version) << " advertised";
    if (offer && offer->localVersion.empty()) {
      out << "; the document names no main program (MainExeName): compared with 0.0.0.0";
    } else if (offer && readFrom.empty()) {
      out << "; no main program given (--main or --client): compared with 0.0.0.0";
    } else if (offer) {
      const std::optional<bool> newer = IsNewerVersion(offer->version, offer->localVersion);
      out << ", " << Utf16ToUtf8(offer->localVersion) << " in " << readFrom << ": "
          << (!newer   ? "cannot be compared"
              : *newer ? "an update"
                       : "no update");
    }
    out << '\n';
  }
  PrintSignature(decision.verdict, config.pinnedKeys, SplitSignedDocument(*bytes).signatures.size(),
                 client.has_value(), IsUtf16WithSignature(*bytes), out);
  if (document && (!config.appId.empty() || !document->appId.empty())) {
    const auto named = [](const std::u16string& id) {
      return id.empty() ? std::string("none") : Utf16ToUtf8(id);
    };
    out << "app id: client " << named(config.appId) << ", document " << named(document->appId)
        << '\n';
  }
  if (document) PrintDocument(*document, now, out);

  // The client saves the package under the first usable address's name.
  std::u16string packageName = package ? FileNameOf(Utf8ToUtf16(*package)) : u"";
  bool named = false;
  if (offer) {
    int index = 0;
    for (const DownloadCandidate& candidate : offer->plan.Candidates()) {
      out << "download " << ++index << ": " << Utf16ToUtf8(candidate.url) << " -> "
          << (candidate.packageName ? "Update\\" + Utf16ToUtf8(*candidate.packageName)
                                    : std::string("refused: the name could leave Update\\"))
          << '\n';
      if (candidate.packageName && !named) packageName = *candidate.packageName, named = true;
    }
  }

  std::optional<PackageVerdict> packageVerdict;
  if (hashed && offer) {
    packageVerdict = CheckPackage(offer->package, packageName, *packageFile, hashed->second);
    out << "package: " << *package << ", " << hashed->first << " bytes, SHA256 "
        << HexEncode(hashed->second.data(), hashed->second.size()) << ": ";
    if (offer->package.size || offer->package.sha256) {
      out << (offer->package.size && *offer->package.size != hashed->first ? "size differs"
                                                                           : "size matches")
          << ", "
          << (offer->package.sha256 && *offer->package.sha256 != hashed->second ? "hash differs"
                                                                                : "hash matches");
    } else {
      out << "nothing to compare with";
    }
    if (*packageVerdict == PackageVerdict::kIncompleteImage)
      out << ", no whole program image (saved as " << Utf16ToUtf8(packageName) << ")";
    out << '\n';
  }

  out << "verdict: ";
  if (decision.outcome == UpdateOutcome::kRefused) {
    out << "refused: " << RefusalText(decision.refusal, document) << '\n';
    return kExitFailed;
  }
  if (packageVerdict && *packageVerdict != PackageVerdict::kAccepted) {
    out << "refused: the package "
        << (*packageVerdict == PackageVerdict::kMismatch
                ? "differs from the document's Size or SHA256"
                : "is no whole program image")
        << '\n';
    return kExitFailed;
  }
  if (decision.outcome == UpdateOutcome::kUpToDate) {
    out << "no update: " << Utf16ToUtf8(offer->localVersion) << " is not older than "
        << Utf16ToUtf8(offer->version) << '\n';
    return kExitNoUpdate;
  }
  out << "accepted: the client would offer " << Utf16ToUtf8(offer->version) << '\n';
  return kExitOk;
}

}  // namespace

const Command kCheckCommand = {
    "check",
    "DOC [--client SEALED.exe] [--main PROGRAM.exe] [--package FILE] [--seal-key HEX64]",
    "  A dry run of the client's own decision on the update document DOC, in plain lines: the\n"
    "  version against the main program's, the signature against the client's pinned keys,\n"
    "  Size, SHA256 and Expires, each download address and the name it saves under, and with\n"
    "  --package whether the client would hand that package over. The last line is the verdict.\n"
    "  Exit code 0: the client would offer this update (and accept the package); 1: it would\n"
    "  refuse the document or the package; 3: the document is fine and not newer (no update);\n"
    "  2: the check could not run (usage, an unreadable file, a --client without configuration).\n"
    "  --client SEALED.exe  the sealed client whose pinned keys apply (default: a client that\n"
    "                       pins no key, which is warned about)\n"
    "  --main PROGRAM.exe   the installed main program (default: the document's MainExeName\n"
    "                       beside the client; without --client no version is read)\n"
    "  --package FILE       the package to check as the client checks a download\n"
    "  --seal-key HEX64     the sealing key of the client (default: the key this tool was built\n"
    "                       with); --key is another spelling\n",
    RunCheck,
};

}  // namespace sealupdate::tool
