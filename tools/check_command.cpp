// `check`: the client's own update decision on a document (and a package), printed line by line
// for the publisher before anything is uploaded.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "client_view.h"
#include "commands.h"
#include "model/client_config.h"
#include "model/rollout.h"
#include "model/update_decision.h"
#include "model/version_info.h"
#include "options.h"
#include "platform/files.h"
#include "tool_io.h"

namespace sealupdate::tool {
namespace {

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

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kCheckCommand;
  ParsedArgs parsed;
  if (const auto problem = ParseArgs(args,
                                     {{"--client"},
                                      {"--main"},
                                      {"--package"},
                                      {"--machine-guid"},
                                      {"--seal-key"},
                                      {"--key", false, "--seal-key"}},
                                     parsed))
    return UsageError(command, *problem, err);
  if (parsed.files.size() != 1) return UsageError(command, "needs exactly one DOC", err);
  SealKey sealKey;
  if (const auto problem = ReadSealKeyOption(parsed, sealKey))
    return UsageError(command, *problem, err);
  const std::optional<std::string> client = parsed.Last("--client");
  const std::optional<std::string> mainProgram = parsed.Last("--main");
  const std::optional<std::string> package = parsed.Last("--package");
  const std::optional<std::string> machineGuid = parsed.Last("--machine-guid");
  if (machineGuid && !client)
    return UsageError(
        command, "--machine-guid needs --client: its first update address places the machine", err);

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
    std::string problem;
    const std::optional<SealedClient> sealed = ReadSealedClient(*client, sealKey, problem);
    if (!sealed) return UsageError(command, problem, err);
    config = sealed->config;
    PrintClient(*client, *sealed, out);
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
  // With a machine, the client's automatic check on it; else a user's check, which every
  // machine is offered whatever the rollout.
  RolloutInputs rollout;
  if (machineGuid) {
    rollout.trigger = CheckTrigger::kAutomatic;
    rollout.machineGuid = [&] { return Utf8ToUtf16(*machineGuid); };
  }
  const UpdateDecision decision = EvaluateUpdate(config, *bytes, readVersion, now, {}, rollout);
  const std::optional<UpdateDocument>& document = decision.verdict.document;
  const std::optional<UpdateOffer>& offer = decision.offer;

  PrintVersion(decision, readFrom, "--main or --client", out);
  PrintSignature(decision.verdict, config.pinnedKeys, SplitSignedDocument(*bytes).signatures.size(),
                 client.has_value(), IsUtf16WithSignature(*bytes), out);
  if (document && (!config.appId.empty() || !document->appId.empty())) {
    const auto named = [](const std::u16string& id) {
      return id.empty() ? std::string("none") : Utf16ToUtf8(id);
    };
    out << "app id: client " << named(config.appId) << ", document " << named(document->appId)
        << '\n';
  }
  if (document) PrintIntegrity(*document, now, out);
  if (document) PrintRollout(*document, out);
  if (document && document->rollout && machineGuid) {
    const std::optional<int> bucket =
        RolloutBucket(Utf8ToUtf16(*machineGuid), config.rolloutAddress);
    out << "machine " << *machineGuid << ": bucket "
        << (bucket ? std::to_string(*bucket) : std::string("none")) << ", "
        << (InRollout(bucket, *document->rollout) ? "in" : "not in") << " the rollout\n";
  }
  if (offer) PrintDownloads(*offer, out);

  std::optional<PackageVerdict> packageVerdict;
  if (hashed && offer) {
    // The client saves the package under the first usable address's name.
    std::u16string packageName = FileNameOf(Utf8ToUtf16(*package));
    for (const DownloadCandidate& candidate : offer->plan.Candidates()) {
      if (candidate.packageName) {
        packageName = *candidate.packageName;
        break;
      }
    }
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
  return PrintVerdict(decision, packageVerdict, out);
}

}  // namespace

const Command kCheckCommand = {
    "check",
    "DOC [--client SEALED.exe] [--main PROGRAM.exe] [--package FILE] [--machine-guid G]\n"
    "      [--seal-key HEX64]",
    "  A dry run of the client's own decision on the update document DOC, in plain lines: the\n"
    "  version against the main program's, the signature against the client's pinned keys,\n"
    "  Size, SHA256 and Expires, each download address and the name it saves under, and with\n"
    "  --package whether the client would hand that package over. The last line is the verdict.\n"
    "  Exit code 0: the client would offer this update (and accept the package); 1: it would\n"
    "  refuse the document or the package; 3: the document is fine and not newer (no update),\n"
    "  or --machine-guid's machine is not in its rollout yet;\n"
    "  2: the check could not run (usage, an unreadable file, a --client without configuration).\n"
    "  --client SEALED.exe  the sealed client whose pinned keys apply (default: a client that\n"
    "                       pins no key, which is warned about)\n"
    "  --main PROGRAM.exe   the installed main program (default: the document's MainExeName\n"
    "                       beside the client; without --client no version is read)\n"
    "  --package FILE       the package to check as the client checks a download\n"
    "  --machine-guid G     decide as the client's automatic check on the machine whose\n"
    "                       MachineGuid is G: is it in the document's Rollout? (needs --client)\n"
    "  --seal-key HEX64     the sealing key of the client (default: the key this tool was built\n"
    "                       with); --key is another spelling\n",
    RunCheck,
};

}  // namespace sealupdate::tool
