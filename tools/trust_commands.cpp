// The publisher's side of signed updates: `keygen` makes the signing key, `sign` puts the
// package's size and hash into an update document and signs it.
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

int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kSignCommand;
  ParsedArgs parsed;
  if (const auto problem = ParseArgs(args, {{"--key", true}, {"--package"}, {"--expires"}}, parsed))
    return UsageError(command, *problem, err);
  const std::vector<std::string> keyPaths = parsed.All("--key");
  const std::vector<std::string>& files = parsed.files;
  const std::optional<std::string> package = parsed.Last("--package");
  std::optional<int> days;
  if (const auto expires = parsed.Last("--expires"); expires && !(days = ParseDays(*expires)))
    return UsageError(command, "--expires needs a number of days (1-36500)", err);
  if (keyPaths.empty()) return UsageError(command, "--key is missing", err);
  if (files.empty() || files.size() > 2) return UsageError(command, "needs DOC and maybe OUT", err);
  const std::string& docPath = files[0];
  const std::string& outPath = files.size() == 2 ? files[1] : files[0];

  std::vector<std::string> pems;
  for (const std::string& path : keyPaths) {
    auto pem = ReadFile(path);
    if (!pem) return Failed(command, "cannot read " + path, err);
    pems.push_back(std::move(*pem));
  }
  const auto original = ReadFile(docPath);
  if (!original) return Failed(command, "cannot read " + docPath, err);
  if (original->substr(0, 2) == "\xFF\xFE" || original->substr(0, 2) == "\xFE\xFF")
    return Failed(command, docPath + " is UTF-16: a signed document must be UTF-8 or ANSI", err);

  IniKeys keys;
  if (package) {
    const auto hashed = HashFile(*package);
    if (!hashed) return Failed(command, "cannot read " + *package, err);
    keys.push_back({"Size", std::to_string(hashed->first)});
    keys.push_back({"SHA256", HexEncode(hashed->second.data(), hashed->second.size())});
  }
  if (days) {
    keys.push_back({"Expires", FormatUtc(std::time(nullptr) + std::int64_t{*days} * 86400)});
  }
  const std::string body =
      WithoutSignatureSection(keys.empty() ? *original : SetIniKeys(*original, "UpdateInfo", keys));
  const std::optional<UpdateDocument> document = ParseUpdateDocument(body);
  if (!document)
    return Failed(command, docPath + " is no update document ([UpdateInfo] with a Version)", err);
  if (!document->malformedField.empty())
    return Failed(command, docPath + ": " + document->malformedField, err);

  std::string signedDocument = body + "[Signature]\r\n";
  TrustAnchors anchors{true, {}};
  for (std::size_t k = 0; k < pems.size(); ++k) {
    std::string problem;
    const std::optional<Signed> made = SignP256(pems[k], body, problem);
    if (!made) return Failed(command, keyPaths[k] + ": " + problem, err);
    signedDocument +=
        "P256=" + Base64Encode(made->signature.data(), made->signature.size()) + "\r\n";
    anchors.keys.push_back(made->publicKey);
    out << "signed with " << keyPaths[k] << " (public key " << PublicKeyText(made->publicKey)
        << ")\n";
  }
  // What a client pinning these keys would say: a missing digest or a past expiry is worth a
  // word before the document is uploaded.
  const DocumentVerdict verdict = CheckUpdateDocument(signedDocument, anchors, std::time(nullptr));
  if (verdict.signature != SignatureStatus::kValid)
    return Failed(command, "the signature does not verify", err);
  if (verdict.refusal == DocumentRefusal::kDigestMissing)
    err << "sealupdate-tool sign: warning: no Size and SHA256 (give --package FILE); clients "
           "that pin a key refuse this document\n";
  if (verdict.refusal == DocumentRefusal::kExpired)
    err << "sealupdate-tool sign: warning: Expires has passed; clients refuse this document\n";

  std::string problem;
  if (!ReplaceFile(outPath, signedDocument, problem)) return Failed(command, problem, err);
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
    "--key NAME.key [--package FILE] [--expires DAYS] DOC [OUT]",
    "  Signs the update document DOC and writes it to OUT (default: DOC itself, replaced only\n"
    "  once complete). An existing [Signature] section is replaced; the signed bytes are all\n"
    "  bytes before the line [Signature], ending with CR LF.\n"
    "  --key NAME.key    the private key (PKCS#8 PEM); repeat it to sign with several keys\n"
    "  --package FILE    writes FILE's Size and SHA256 into [UpdateInfo], replacing older ones\n"
    "  --expires DAYS    writes Expires, DAYS days from now (UTC); clients refuse it after that\n",
    RunSign,
};

}  // namespace sealupdate::tool
