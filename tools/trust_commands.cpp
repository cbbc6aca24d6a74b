// The publisher's side of signed updates: `keygen` makes the signing key, `sign` puts the
// package's size and hash into an update document and signs it, `check` is the dry run of what
// a sealed client would do with the document.
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "base/encoding.h"
#include "base/text.h"
#include "commands.h"
#include "ini_lines.h"
#include "model/document_trust.h"
#include "model/ini_document.h"
#include "model/update_document.h"
#include "model/update_record.h"
#include "model/version_info.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "signing.h"
#include "startup/startup.h"

namespace sealupdate::tool {
namespace {

std::optional<std::string> ReadFile(const std::string& path) {
  return ReadWholeFile(Utf8ToUtf16(path));
}

std::string PublicKeyText(const P256PublicKey& key) { return Utf16ToUtf8(FormatPublicKey(key)); }

// Creates the file only when nothing is there yet, readable by its owner alone where the
// system has such a notion.
bool CreateNewFile(const std::string& path, const std::string& bytes, bool ownerOnly) {
#ifdef _WIN32
  (void)ownerOnly;  // the new file inherits its folder's access list
  const std::u16string wide = Utf8ToUtf16(path);
  const int fd = _wopen(reinterpret_cast<const wchar_t*>(wide.c_str()),
                        _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  const auto write = [](int f, const char* p, std::size_t n) {
    return _write(f, p, static_cast<unsigned>(n)) == static_cast<int>(n);
  };
  const auto close = _close;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, ownerOnly ? 0600 : 0644);
  const auto write = [](int f, const char* p, std::size_t n) {
    return ::write(f, p, n) == static_cast<ssize_t>(n);
  };
  const auto close = ::close;
#endif
  if (fd < 0) return false;
  const bool written = write(fd, bytes.data(), bytes.size());
  return close(fd) == 0 && written;
}

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

// Size and SHA-256 of a file, read in pieces so a package of any size costs no memory.
std::optional<std::pair<std::uint64_t, Sha256Digest>> HashFile(const std::string& path) {
  std::optional<InputFile> file = InputFile::Open(Utf8ToUtf16(path));
  if (!file) return std::nullopt;
  Sha256 hash;
  std::vector<char> buffer(1 << 20);
  for (std::uint64_t at = 0; at < file->Size();) {
    const auto piece =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), file->Size() - at));
    if (!file->ReadAt(at, buffer.data(), piece)) return std::nullopt;
    hash.Update(buffer.data(), piece);
    at += piece;
  }
  const std::optional<Sha256Digest> digest = hash.Finish();
  if (!digest) return std::nullopt;
  return std::make_pair(file->Size(), *digest);
}

std::string FormatUtc(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  const std::tm* utc = std::gmtime(&t);
  char text[32] = "";
  if (utc) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
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

int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kSignCommand;
  std::vector<std::string> keyPaths, files;
  std::optional<std::string> package;
  std::optional<int> days;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
      continue;
    }
    if (arg != "--key" && arg != "--package" && arg != "--expires")
      return UsageError(command, "unknown option '" + arg + "'", err);
    if (i + 1 == args.size()) return UsageError(command, "option " + arg + " needs a value", err);
    const std::string& value = args[++i];
    if (arg == "--key") {
      keyPaths.push_back(value);
    } else if (arg == "--package") {
      package = value;
    } else if (!(days = ParseDays(value))) {
      return UsageError(command, "--expires needs a number of days (1-36500)", err);
    }
  }
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
  const std::optional<UpdateDocument> parsed = ParseUpdateDocument(body);
  if (!parsed)
    return Failed(command, docPath + " is no update document ([UpdateInfo] with a Version)", err);
  if (parsed->malformedIntegrityField)
    return Failed(command, docPath + ": Size, SHA256 or Expires is not in its exact form", err);

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

// ---- check ----

const char* RefusalText(DocumentRefusal refusal) {
  switch (refusal) {
    case DocumentRefusal::kNone:
      return "accepted";
    case DocumentRefusal::kNotADocument:
      return "refused: no update document ([UpdateInfo] with a Version)";
    case DocumentRefusal::kSignatureMissing:
      return "refused: the client pins keys and the document is not signed";
    case DocumentRefusal::kSignatureInvalid:
      return "refused: no signature verifies under the pinned keys";
    case DocumentRefusal::kDigestMissing:
      return "refused: the signed part lacks Size or SHA256";
    case DocumentRefusal::kMalformedField:
      return "refused: Size, SHA256 or Expires is not in its exact form";
    case DocumentRefusal::kExpired:
      return "refused: expired";
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

int RunCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kCheckCommand;
  std::optional<std::string> client, mainProgram, package;
  SealKey sealKey = BuildSealKey();
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      files.push_back(arg);
      continue;
    }
    if (arg != "--client" && arg != "--main" && arg != "--package" && arg != "--key")
      return UsageError(command, "unknown option '" + arg + "'", err);
    if (i + 1 == args.size()) return UsageError(command, "option " + arg + " needs a value", err);
    const std::string& value = args[++i];
    if (arg == "--client") {
      client = value;
    } else if (arg == "--main") {
      mainProgram = value;
    } else if (arg == "--package") {
      package = value;
    } else if (const auto key = ParseKey(value)) {
      sealKey = *key;
    } else {
      return UsageError(command, "--key needs 64 hexadecimal digits", err);
    }
  }
  if (files.size() != 1) return UsageError(command, "needs exactly one DOC", err);
  const auto bytes = ReadFile(files[0]);
  if (!bytes) return UsageError(command, "cannot read " + files[0], err);

  std::optional<std::pair<std::uint64_t, Sha256Digest>> hashed;
  if (package && !(hashed = HashFile(*package)))
    return UsageError(command, "cannot read " + *package, err);

  TrustAnchors anchors;
  if (client) {
    const std::u16string path = Utf8ToUtf16(*client);
    if (!InputFile::Open(path)) return UsageError(command, "cannot read " + *client, err);
    IniDocument configuration;
    configuration.SetAutoSave(false);
    configuration.SetText(ReadSealedConfiguration(path, sealKey));
    if (configuration.SectionNames().empty())
      return UsageError(command, *client + " carries no sealed configuration for this key", err);
    int unreadable = 0;
    anchors = ParsePublicKeys(configuration.GetKey(u"UpdateInfo", u"PublicKey", u""), &unreadable);
    out << "client: " << *client << ", " << anchors.keys.size() << " pinned key(s)";
    if (unreadable > 0) out << ", " << unreadable << " unreadable PublicKey piece(s) ignored";
    out << '\n';
  }
  const std::int64_t now = std::time(nullptr);
  const DocumentVerdict verdict = CheckUpdateDocument(*bytes, anchors, now);
  bool refused = !verdict.accepted();

  const std::optional<UpdateDocument>& document = verdict.document;
  UpdateRecord record;
  if (document) {
    record.SetVersion(document->version);
    record.SetModifySuffix(document->modifySuffix);
    for (const auto& url : document->downloadUrls) record.AddDownloadURL(url);
    for (const auto& name : document->mainExeNames) record.AddMainExeName(name);
    if (!mainProgram && client && !record.FirstMainExeName().empty())
      mainProgram = Utf16ToUtf8(FolderOf(Utf8ToUtf16(*client)) + u"\\" + record.FirstMainExeName());
    out << "version: " << Utf16ToUtf8(document->version) << " advertised";
    if (mainProgram) {
      const auto info = ReadVersionInfo(Utf8ToUtf16(*mainProgram));
      const std::u16string local =
          info && !info->fileVersion.empty() ? info->fileVersion : u"0.0.0.0";
      const std::optional<bool> newer = record.IsNewerThan(local);
      out << ", " << Utf16ToUtf8(local) << " in " << *mainProgram << ": "
          << (!newer   ? "cannot be compared"
              : *newer ? "an update"
                       : "no update");
    } else {
      out << " (no main program to compare with: give --main)";
    }
    out << '\n';
  }

  const SignedDocument split = SplitSignedDocument(*bytes);
  out << "signature: ";
  switch (verdict.signature) {
    case SignatureStatus::kNotRequired:
      out << "not required (" << (client ? "the client pins no key" : "no --client given")
          << "; the document carries " << split.signatures.size() << " P256 line(s))";
      break;
    case SignatureStatus::kValid:
      out << "valid, pinned key " << verdict.keyIndex + 1 << " of " << anchors.keys.size() << " ("
          << PublicKeyText(anchors.keys[static_cast<std::size_t>(verdict.keyIndex)]) << ")";
      break;
    case SignatureStatus::kInvalid:
      out << "invalid (" << split.signatures.size() << " P256 line(s), none verifies under the "
          << anchors.keys.size() << " pinned key(s))";
      break;
    case SignatureStatus::kMissing:
      out << "missing";
      break;
  }
  out << '\n';

  if (document) {
    out << "integrity: ";
    if (document->packageSize && document->packageSha256) {
      out << "Size " << *document->packageSize << ", SHA256 "
          << HexEncode(document->packageSha256->data(), document->packageSha256->size());
    } else {
      out << "Size and SHA256 not both given; the package is not checked";
    }
    out << "\nexpires: ";
    if (!document->expires) {
      out << "not given";
    } else {
      out << FormatUtc(*document->expires) << (*document->expires > now ? ", in " : ", passed ")
          << Duration(*document->expires - now) << (*document->expires > now ? "" : " ago");
    }
    out << '\n';
    int usable = 0;
    for (std::int32_t i = 0; i <= record.LastDownloadURLIndex(); ++i) {
      record.SetDownloadURLIndex(i);
      const auto name = PackageFileName(record.DownloadURL(), record.ModifySuffix());
      out << "download " << i + 1 << ": " << Utf16ToUtf8(record.DownloadURL()) << " -> "
          << (name ? "Update\\" + Utf16ToUtf8(*name) : "refused: the name could leave Update\\")
          << '\n';
      if (name) ++usable;
    }
    if (usable == 0) {
      out << "download: no address gives a save path\n";
      refused = true;
    }
  }

  if (hashed) {
    out << "package: " << *package << ", " << hashed->first << " bytes, SHA256 "
        << HexEncode(hashed->second.data(), hashed->second.size()) << ": ";
    if (!document || !document->packageSize || !document->packageSha256) {
      out << "nothing to compare with\n";
    } else {
      const bool sizeMatches = *document->packageSize == hashed->first;
      const bool hashMatches = *document->packageSha256 == hashed->second;
      out << (sizeMatches ? "size matches" : "size differs") << ", "
          << (hashMatches ? "hash matches" : "hash differs") << '\n';
      refused = refused || !sizeMatches || !hashMatches;
    }
  }

  out << "verdict: ";
  if (!verdict.accepted()) {
    out << RefusalText(verdict.refusal);
  } else {
    out << (refused ? "refused: the package would fail its download" : "accepted");
  }
  out << '\n';
  return refused ? kExitFailed : kExitOk;
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

const Command kCheckCommand = {
    "check",
    "DOC [--client SEALED.exe] [--main PROGRAM.exe] [--package FILE] [--key HEX64]",
    "  A dry run of what a client does with the update document DOC, in plain lines: the\n"
    "  version against the main program's, the signature against the client's pinned keys,\n"
    "  Size, SHA256 and Expires, each download address and the save path it gives, and with\n"
    "  --package whether the package matches. Exit code 0 when the client would accept the\n"
    "  document (and the package), 1 when it would refuse it, 2 when the check cannot run.\n"
    "  --client SEALED.exe  the sealed client whose pinned keys apply (default: none pinned)\n"
    "  --main PROGRAM.exe   the main program (default: MainExeName beside the client)\n"
    "  --package FILE       the package to compare with Size and SHA256\n"
    "  --key HEX64          the sealing key of the client (default: the key this tool was\n"
    "                       built with)\n",
    RunCheck,
};

}  // namespace sealupdate::tool
