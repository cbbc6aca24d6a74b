// `release`: a whole signed update document for a package in one command. What a client would
// refuse or misread is refused, and the client's own decision runs on the finished bytes
// before anything is written.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "client_view.h"
#include "commands.h"
#include "model/addresses.h"
#include "model/client_config.h"
#include "model/document_trust.h"
#include "model/update_decision.h"
#include "model/update_document.h"
#include "model/version_info.h"
#include "options.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "publish_rules.h"
#include "tool_io.h"

namespace sealupdate::tool {
namespace {

constexpr unsigned kUtf8CodePage = 65001;

// The notes file as one UpdateText value: UTF-8 after an optional byte-order mark, each line
// break written as {#br}, trailing ones dropped. nullopt when the bytes are not UTF-8.
std::optional<std::string> NotesValue(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (!CodePageToUtf16(bytes, kUtf8CodePage)) return std::nullopt;
  std::string text = CrLfLineEnds(bytes), value;
  while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 2, "\r\n") == 0) {
      value += "{#br}";
      ++at;
    } else {
      value += text[at];
    }
  }
  return value;
}

std::string Joined(const std::vector<std::string>& values) {
  std::string joined;
  for (const std::string& value : values) joined += (joined.empty() ? "" : "|") + value;
  return joined;
}

std::vector<std::u16string> Wide(const std::vector<std::string>& values) {
  std::vector<std::u16string> wide;
  for (const std::string& value : values) wide.push_back(Utf8ToUtf16(value));
  return wide;
}

// The field whose value the client would read otherwise than given ("|" or a line break in a
// value, blanks it trims); empty when every one reads back.
std::string FieldReadOtherwise(const UpdateDocument& read, const ParsedArgs& given,
                               const std::string& appId) {
  std::vector<std::string> programs = given.All("--main");
  for (const std::string& name : given.All("--kill")) programs.push_back(name);
  const auto one = [&](const char* option) { return Utf8ToUtf16(given.Last(option).value_or("")); };
  if (read.version != one("--version")) return "Version";
  if (read.downloadUrls != Wide(given.All("--url"))) return "DownloadURL";
  if (read.modifySuffix != one("--suffix")) return "ModifySuffix";
  std::vector<std::u16string> named;  // an absent field reads as one empty name
  for (const std::u16string& name : read.mainExeNames) {
    if (!name.empty()) named.push_back(name);
  }
  if (named != Wide(programs)) return "MainExeName or KillExeName";
  if (read.homeUrl != one("--home")) return "HomeURL";
  if (read.appId != Utf8ToUtf16(appId)) return "AppId";
  return "";
}

int RunRelease(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kReleaseCommand;
  ParsedArgs parsed;
  if (const auto problem = ParseArgs(args,
                                     {{"--version"},
                                      {"--url", true},
                                      {"--package"},
                                      {"--signing-key", true},
                                      {"--notes"},
                                      {"--home"},
                                      {"--suffix"},
                                      {"--main", true},
                                      {"--kill", true},
                                      {"--expires"},
                                      {"--rollout"},
                                      {"--app-id"},
                                      {"--client"},
                                      {"--installed"},
                                      {"--seal-key"},
                                      {"--key", false, "--seal-key"}},
                                     parsed))
    return UsageError(command, *problem, err);
  for (const char* required : {"--version", "--url", "--package", "--signing-key"}) {
    if (!parsed.Last(required))
      return UsageError(command, std::string(required) + " is missing", err);
  }
  if (parsed.files.size() != 1) return UsageError(command, "needs exactly one OUT", err);
  std::optional<int> days;
  if (const auto expires = parsed.Last("--expires"); expires && !(days = ParseDays(*expires)))
    return UsageError(command, "--expires needs a number of days (1-36500)", err);
  std::optional<int> rollout;
  if (const auto share = parsed.Last("--rollout"); share && !(rollout = ParseRollout(*share)))
    return UsageError(command, "--rollout needs a whole percentage (0-100)", err);
  SealKey sealKey;
  if (const auto problem = ReadSealKeyOption(parsed, sealKey))
    return UsageError(command, *problem, err);
  const std::string version = *parsed.Last("--version"), package = *parsed.Last("--package");
  const std::optional<std::string> client = parsed.Last("--client");
  const std::optional<std::string> installed = parsed.Last("--installed");
  const std::optional<std::string> notesPath = parsed.Last("--notes");

  // Inputs that cannot be read: the command cannot run.
  std::string unreadable;
  const auto keys = ReadSigningKeys(parsed.All("--signing-key"), command.name, err, unreadable);
  if (!keys) return UsageError(command, "cannot read " + unreadable, err);
  const auto hashed = HashFile(package);
  std::optional<InputFile> packageFile = InputFile::Open(Utf8ToUtf16(package));
  if (!hashed || !packageFile) return UsageError(command, "cannot read " + package, err);
  const std::optional<std::string> notesBytes = notesPath ? ReadFile(*notesPath) : "";
  if (!notesBytes) return UsageError(command, "cannot read " + *notesPath, err);
  if (installed && !InputFile::Open(Utf8ToUtf16(*installed)))
    return UsageError(command, "cannot read the installed program " + *installed, err);
  std::optional<SealedClient> sealed;
  if (client) {
    std::string problem;
    if (!(sealed = ReadSealedClient(*client, sealKey, problem)))
      return UsageError(command, problem, err);
  }

  // Values the client would misread.
  const std::optional<std::string> notes = NotesValue(*notesBytes);
  if (!notes) return Failed(command, *notesPath + " is not UTF-8", err);
  std::string appId = parsed.Last("--app-id").value_or("");
  if (!appId.empty() && !IsValidAppId(Utf8ToUtf16(appId)))
    return Failed(command, "AppId " + appId + " is not ASCII letters, digits, '.', '-', '_'", err);
  if (!parsed.Last("--app-id") && sealed) appId = Utf16ToUtf8(sealed->config.appId);
  const std::optional<std::string> home = parsed.Last("--home");
  if (home && !IsWebAddress(Utf8ToUtf16(*home)))
    return Failed(command, "HomeURL " + *home + ": the client opens only http(s) addresses", err);

  std::string body = "\xEF\xBB\xBF[UpdateInfo]\r\n";
  const auto field = [&](const char* key, const std::string& value) {
    if (!value.empty()) body += std::string(key) + "=" + value + "\r\n";
  };
  field("Version", version);
  field("DownloadURL", Joined(parsed.All("--url")));
  field("ModifySuffix", parsed.Last("--suffix").value_or(""));
  field("MainExeName", Joined(parsed.All("--main")));
  field("KillExeName", Joined(parsed.All("--kill")));
  field("HomeURL", home.value_or(""));
  field("UpdateText", *notes);
  field("Size", std::to_string(hashed->first));
  field("SHA256", HexEncode(hashed->second.data(), hashed->second.size()));
  const std::int64_t now = std::time(nullptr);
  if (days) field("Expires", FormatUtc(now + std::int64_t{*days} * 86400));
  field("AppId", appId);
  if (rollout) field("Rollout", std::to_string(*rollout));
  if (const std::optional<UpdateDocument> read = ParseUpdateDocument(body)) {
    if (const std::string name = FieldReadOtherwise(*read, parsed, appId); !name.empty())
      return Failed(command, "the client would read " + name + " otherwise than given", err);
  }

  std::string problem;
  TrustAnchors anchors;
  const std::optional<std::string> document = SignBody(body, *keys, anchors, problem);
  if (!document) return Failed(command, problem, err);
  if (const std::string refused = DocumentProblem(*document, &*packageFile); !refused.empty())
    return Failed(command, refused, err);

  // The client's own decision on the finished bytes: the given client's, or one that pins
  // exactly the signing keys, so the signature is proven either way.
  ClientConfig config;
  config.pinnedKeys = anchors;
  if (sealed) config = sealed->config;
  std::string readFrom;
  const LocalVersionReader readVersion = [&](const std::u16string&) -> std::u16string {
    if (!installed) return u"";
    readFrom = *installed;
    const std::optional<VersionInfo> info = ReadVersionInfo(Utf8ToUtf16(*installed));
    return info ? info->fileVersion : u"";
  };
  const UpdateDecision decision = EvaluateUpdate(config, *document, readVersion, now);
  const std::string judge = client ? *client : "a client pinning the signing keys";
  if (decision.outcome == UpdateOutcome::kRefused) {
    return Failed(
        command,
        judge + " would refuse it: " + RefusalText(decision.refusal, decision.verdict.document),
        err);
  }
  if (decision.offer->programsToEnd.size() !=
      parsed.All("--main").size() + parsed.All("--kill").size())
    return Failed(command, "--main, --kill: the client compares and ends only names ending in .exe",
                  err);
  if (!ReplaceFile(parsed.files[0], *document, problem)) return Failed(command, problem, err);

  if (sealed) PrintClient(*client, *sealed, out);
  if (sealed && !config.pinnedKeys.required) {
    err << "sealupdate-tool release: warning: the client pins no key: any network can hand it "
           "any document\n";
  }
  PrintVersion(decision, readFrom, "--installed", out);
  PrintDownloads(*decision.offer, out);
  PrintIntegrity(*decision.verdict.document, now, out);
  PrintRollout(*decision.verdict.document, out);
  if (!appId.empty()) out << "app id: " << appId << '\n';
  for (std::size_t k = 0; k < keys->size(); ++k) {
    out << "signed with " << (*keys)[k].path << " (public key " << PublicKeyText(anchors.keys[k])
        << ")\n";
  }
  out << "written: " << parsed.files[0] << '\n';
  return PrintVerdict(decision, std::nullopt, out);
}

}  // namespace

const Command kReleaseCommand = {
    "release",
    "--version V --url URL --package FILE --signing-key NAME.key [OPTION...] OUT",
    "  Writes OUT, a whole signed update document for the package FILE (UTF-8 with a byte-order\n"
    "  mark, CR LF line ends), replaced only once complete. Refuses (exit 1) what a client would\n"
    "  refuse or misread: a version that is not one to four numbers joined by dots, an address\n"
    "  whose package name the client refuses, an .exe package that is no whole program image,\n"
    "  an invalid AppId, notes that are not UTF-8, more than 4 MiB, and whatever the client's\n"
    "  own decision refuses. Exit 3: written, and --installed would not be offered the update.\n"
    "  --version V          Version: one to four numbers joined by dots\n"
    "  --url URL            DownloadURL; repeat it for mirrors, tried in order\n"
    "  --package FILE       Size and SHA256 of this file\n"
    "  --signing-key K.key  the private key (PKCS#8 PEM); repeat it: one P256 line per key\n"
    "  --notes FILE         UpdateText from a UTF-8 file, its line breaks written as {#br}\n"
    "  --home URL           HomeURL\n"
    "  --suffix TEXT        ModifySuffix, appended to the name the package is saved under\n"
    "  --main NAME          MainExeName (repeatable): the first one's version is compared\n"
    "  --kill NAME          KillExeName (repeatable): further programs ended before installing\n"
    "  --expires DAYS       Expires, DAYS days from now (UTC)\n"
    "  --app-id ID          AppId (default: the --client's own)\n"
    "  --rollout N          Rollout: automatic checks offer it on N % of machines (0-100)\n"
    "  --client SEALED.exe  decide as this sealed client does (default: a client pinning exactly\n"
    "                       the signing keys); --seal-key HEX64 (or --key) its sealing key\n"
    "  --installed FILE     an installed main program: would it be offered the update?\n",
    RunRelease,
};

}  // namespace sealupdate::tool
