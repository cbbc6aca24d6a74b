// The publisher's side of signed updates: `keygen` makes the signing key, `sign` puts the
// package's size and hash into a hand-written update document and signs it.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "base/encoding.h"
#include "base/text.h"
#include "commands.h"
#include "ini_lines.h"
#include "model/document_trust.h"
#include "model/update_document.h"
#include "options.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "publish_rules.h"
#include "signing.h"
#include "tool_io.h"

namespace sealupdate::tool {
namespace {

// ---- keygen ----

int RunKeygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kKeygenCommand;
  if (args.size() != 1 || args[0].empty() || (args[0].size() > 1 && args[0][0] == '-'))
    return UsageError(command, "needs exactly one NAME", err);
  const std::string keyPath = args[0] + ".key";
  const std::string publicPath = args[0] + ".pub";
  for (const std::string& path : {keyPath, publicPath}) {
    if (PathExists(Utf8ToUtf16(path))) return Failed(command, path + " exists already", err);
  }
  std::string problem;
  const std::optional<KeyPair> pair = GenerateP256Key(problem);
  if (!pair) return Failed(command, problem, err);
  if (!CreateNewFile(keyPath, pair->privatePem, true))
    return Failed(command, "cannot create " + keyPath, err);
  if (!CreateNewFile(publicPath, PublicKeyText(pair->publicKey) + "\n", false)) {
    std::error_code ignored;  // one half of a pair is no use
    std::filesystem::remove(std::filesystem::u8path(keyPath), ignored);
    return Failed(command, "cannot create " + publicPath, err);
  }
  out << "private key: " << keyPath << " (keep it secret; it signs update documents)\n"
      << "public key:  " << publicPath << " (seal it into the client: seal --public-key "
      << publicPath << ")\n";
  return kExitOk;
}

// ---- sign ----

int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kSignCommand;
  ParsedArgs parsed;
  if (const auto problem = ParseArgs(args,
                                     {{"--signing-key", true},
                                      {"--key", true, "--signing-key"},
                                      {"--package"},
                                      {"--expires"},
                                      {"--rollout"}},
                                     parsed))
    return UsageError(command, *problem, err);
  const std::vector<std::string>& files = parsed.files;
  const std::optional<std::string> package = parsed.Last("--package");
  std::optional<int> days;
  if (const auto expires = parsed.Last("--expires"); expires && !(days = ParseDays(*expires)))
    return UsageError(command, "--expires needs a number of days (1-36500)", err);
  std::optional<int> rollout;
  if (const auto share = parsed.Last("--rollout"); share && !(rollout = ParseRollout(*share)))
    return UsageError(command, "--rollout needs a whole percentage (0-100)", err);
  if (!parsed.Last("--signing-key")) return UsageError(command, "--signing-key is missing", err);
  if (files.empty() || files.size() > 2) return UsageError(command, "needs DOC and maybe OUT", err);
  const std::string& docPath = files[0];
  const std::string& outPath = files.size() == 2 ? files[1] : files[0];

  std::string unreadable;
  const auto keys = ReadSigningKeys(parsed.All("--signing-key"), command.name, err, unreadable);
  if (!keys) return UsageError(command, "cannot read " + unreadable, err);
  const auto original = ReadFile(docPath);
  if (!original) return UsageError(command, "cannot read " + docPath, err);
  if (original->substr(0, 2) == "\xFF\xFE" || original->substr(0, 2) == "\xFE\xFF")
    return Failed(command, docPath + " is UTF-16: a signed document must be UTF-8 or ANSI", err);

  IniKeys fields;
  std::optional<InputFile> packageFile;
  if (package) {
    const auto hashed = HashFile(*package);
    if (!hashed || !(packageFile = InputFile::Open(Utf8ToUtf16(*package))))
      return UsageError(command, "cannot read " + *package, err);
    fields.push_back({"Size", std::to_string(hashed->first)});
    fields.push_back({"SHA256", HexEncode(hashed->second.data(), hashed->second.size())});
  }
  if (days) {
    fields.push_back({"Expires", FormatUtc(std::time(nullptr) + std::int64_t{*days} * 86400)});
  }
  if (rollout) fields.push_back({"Rollout", std::to_string(*rollout)});
  // The whole document gets CR LF line ends: the client reads it the same wherever it travels.
  const std::string edited = WithoutSignatureSection(
      fields.empty() ? *original : SetIniKeys(*original, "UpdateInfo", fields));
  const std::string body = CrLfLineEnds(edited);
  if (const std::string problem = DocumentProblem(body, packageFile ? &*packageFile : nullptr);
      !problem.empty())
    return Failed(command, docPath + ": " + problem, err);

  std::string problem;
  TrustAnchors anchors;
  const std::optional<std::string> signedDocument = SignBody(body, *keys, anchors, problem);
  if (!signedDocument) return Failed(command, problem, err);
  if (const std::string tooLarge = DocumentProblem(*signedDocument, nullptr); !tooLarge.empty())
    return Failed(command, docPath + ": " + tooLarge, err);
  for (std::size_t k = 0; k < keys->size(); ++k) {
    out << "signed with " << (*keys)[k].path << " (public key " << PublicKeyText(anchors.keys[k])
        << ")\n";
  }
  if (body != edited) err << "sealupdate-tool sign: line ends written as CR LF\n";
  // What a client pinning these keys would say: a missing digest or a past expiry is worth a
  // word before the document is uploaded.
  const DocumentVerdict verdict = CheckUpdateDocument(*signedDocument, anchors, std::time(nullptr));
  if (verdict.refusal == DocumentRefusal::kDigestMissing)
    err << "sealupdate-tool sign: warning: no Size and SHA256 (give --package FILE); clients "
           "that pin a key refuse this document\n";
  if (verdict.refusal == DocumentRefusal::kExpired)
    err << "sealupdate-tool sign: warning: Expires has passed; clients refuse this document\n";

  if (!ReplaceFile(outPath, *signedDocument, problem)) return Failed(command, problem, err);
  return kExitOk;
}

}  // namespace

const Command kKeygenCommand = {
    "keygen",
    "NAME",
    "  Makes an ECDSA P-256 key pair for signing update documents: NAME.key, the private key\n"
    "  (PKCS#8 PEM, readable by its owner only where the system allows), and NAME.pub, the\n"
    "  public key as one line (base64 of the uncompressed point) for seal --public-key.\n"
    "  Refuses to overwrite either file.\n",
    RunKeygen,
};

const Command kSignCommand = {
    "sign",
    "--signing-key NAME.key [--package FILE] [--expires DAYS] [--rollout N] DOC [OUT]",
    "  Signs the update document DOC and writes it to OUT (default: DOC itself, replaced only\n"
    "  once complete), every line ended with CR LF. An existing [Signature] section is replaced;\n"
    "  the signed bytes are all bytes before the line [Signature]. Refuses (exit 1) what a client\n"
    "  would refuse or misread: a Version that is not up to four numbers joined by dots, an\n"
    "  address whose package name the client refuses, more than 4 MiB, with --package an .exe\n"
    "  that is no whole program image.\n"
    "  --signing-key NAME.key  the private key (PKCS#8 PEM); repeat it to sign with several\n"
    "                          keys; --key is another spelling\n"
    "  --package FILE          writes FILE's Size and SHA256 into [UpdateInfo], replacing older\n"
    "                          ones\n"
    "  --expires DAYS          writes Expires, DAYS days from now (UTC); clients refuse it after\n"
    "                          that\n"
    "  --rollout N             writes Rollout: automatic checks offer the update on N % of\n"
    "                          machines (0-100); sign again with a larger N to widen it\n",
    RunSign,
};

}  // namespace sealupdate::tool
