// `seal` appends an enciphered configuration to a client; `show` prints the one a client carries.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "ini_lines.h"
#include "model/document_trust.h"
#include "model/ini_document.h"
#include "model/pe_image.h"
#include "options.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "seal_review.h"
#include "signing.h"
#include "startup/seal_key.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace sealupdate::tool {
namespace {

constexpr unsigned kDefaultCodePage = 936;
constexpr unsigned kUtf8CodePage = 65001;

struct Options {
  SealKey key = BuildSealKey();
  unsigned codePage = kDefaultCodePage;
  std::optional<std::string> config;
  std::vector<std::string> publicKeyFiles;
  std::vector<std::string> files;
  bool unpin = false;
  bool replaceForeignSeal = false;
};

std::optional<unsigned> ParseCodePage(const std::string& text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return value;
}

// Fills `options` from the arguments; on a usage error returns its description.
std::optional<std::string> ParseOptions(const std::vector<std::string>& args, bool takesConfig,
                                        Options& options) {
  ParsedArgs parsed;
  const auto problem =
      takesConfig
          ? ParseArgs(args,
                      {{"--seal-key"},
                       {"--key", false, "--seal-key"},
                       {"--codepage"},
                       {"--config"},
                       {"--public-key", true},
                       {"--unpin", false, nullptr, true},
                       {"--replace-foreign-seal", false, nullptr, true}},
                      parsed)
          : ParseArgs(args, {{"--seal-key"}, {"--key", false, "--seal-key"}, {"--codepage"}},
                      parsed);
  if (problem) return problem;
  if (const auto hex = parsed.Last("--seal-key")) {
    const auto key = ParseKey(*hex);
    if (!key) return "--seal-key needs 64 hexadecimal digits";
    options.key = *key;
  }
  if (const auto text = parsed.Last("--codepage")) {
    const auto codePage = ParseCodePage(*text);
    if (!codePage) return "--codepage needs a code page number (1-65535)";
    options.codePage = *codePage;
  }
  options.config = parsed.Last("--config");
  options.publicKeyFiles = parsed.All("--public-key");
  options.files = parsed.files;
  options.unpin = parsed.Has("--unpin");
  options.replaceForeignSeal = parsed.Has("--replace-foreign-seal");
  return std::nullopt;
}

bool CodePageAvailable(unsigned codePage) { return Utf16ToCodePage(u"0", codePage).has_value(); }

std::string HexUnit(char32_t c) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  // Four to six digits: plane 16 needs the sixth.
  const int first = c > 0xFFFFF ? 20 : c > 0xFFFF ? 16 : 12;
  for (int shift = first; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0xF];
  return "U+" + out;
}

// Describes the first character of `text` that the code page cannot hold, with its line.
std::string DescribeUnmappable(const std::u16string& text, unsigned codePage) {
  const std::vector<std::u16string> lines = Split(text, u"\n");
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const std::u16string& line = lines[n];
    if (Utf16ToCodePage(line, codePage)) continue;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const bool pair = line[i] >= 0xD800 && line[i] <= 0xDBFF && i + 1 < line.size() &&
                        line[i + 1] >= 0xDC00 && line[i + 1] <= 0xDFFF;
      const std::u16string_view unit(line.data() + i, pair ? 2 : 1);
      if (!Utf16ToCodePage(unit, codePage)) {
        const char32_t c = pair ? 0x10000 + ((static_cast<char32_t>(line[i]) - 0xD800) << 10) +
                                      (static_cast<char32_t>(line[i + 1]) - 0xDC00)
                                : line[i];
        return "line " + std::to_string(n + 1) + ": character " + HexUnit(c) +
               " cannot be written in code page " + std::to_string(codePage);
      }
      if (pair) ++i;
    }
    return "line " + std::to_string(n + 1) + " cannot be written in code page " +
           std::to_string(codePage);
  }
  return "the text cannot be written in code page " + std::to_string(codePage);
}

// The configuration file as text: UTF-8 with or without BOM, lone line feeds turned into CR LF
// (the client separates lines at CR LF only).
std::optional<std::u16string> ReadConfigText(const std::string& bytes, std::string& problem) {
  std::string_view body(bytes);
  if (body.substr(0, 3) == "\xEF\xBB\xBF") body.remove_prefix(3);
  auto text = CodePageToUtf16(body, kUtf8CodePage);
  if (!text) {
    std::size_t line = 1;
    std::size_t start = 0;
    while (start <= body.size()) {
      const std::size_t end = std::min(body.find('\n', start), body.size());
      if (!CodePageToUtf16(body.substr(start, end - start), kUtf8CodePage)) break;
      start = end + 1;
      ++line;
    }
    problem = "line " + std::to_string(line) + " is not valid UTF-8";
    return std::nullopt;
  }
  std::u16string out;
  out.reserve(text->size());
  for (std::size_t i = 0; i < text->size(); ++i) {
    if ((*text)[i] == u'\n' && (i == 0 || (*text)[i - 1] != u'\r')) out += u'\r';
    out += (*text)[i];
  }
  return out;
}

// A .pub file: its name and its bytes.
using KeyFile = std::pair<std::string, std::string>;

// The public-key line of a .pub file: its text without line ends and blanks around it.
std::optional<std::string> ReadPublicKeyLine(const KeyFile& file, std::string& problem) {
  const std::string& path = file.first;
  std::string line = file.second;
  while (!line.empty() && std::string_view(" \t\r\n").find(line.back()) != std::string::npos)
    line.pop_back();
  line.erase(0, std::min(line.find_first_not_of(" \t"), line.size()));
  int invalid = 0;
  const TrustAnchors anchors = ParsePublicKeys(Utf8ToUtf16(line), &invalid);
  if (invalid > 0 || anchors.keys.size() != 1) {
    problem = path + " holds no public key line (base64 of a 65-byte point 04||X||Y)";
    return std::nullopt;
  }
  // One character changed still decodes to 04||X||Y: only the curve tells.
  if (!IsP256Point(anchors.keys[0])) {
    problem = path + " holds no point on P-256: is it changed or cut?";
    return std::nullopt;
  }
  return line;
}

// The configuration with the keys of the --public-key files added to its PublicKey (a key it
// names already is not repeated).
std::optional<std::string> AddPublicKeys(const std::string& configBytes,
                                         const std::u16string& configText,
                                         const std::vector<KeyFile>& files, std::string& problem) {
  IniDocument ini;
  ini.SetText(configText);
  std::vector<std::string> pieces;
  for (const std::u16string& piece : Split(ini.GetKey(u"UpdateInfo", u"PublicKey", u""), u"|")) {
    if (!TrimSpaces(piece).empty()) pieces.push_back(Utf16ToUtf8(TrimSpaces(piece)));
  }
  for (const KeyFile& file : files) {
    const auto line = ReadPublicKeyLine(file, problem);
    if (!line) return std::nullopt;
    if (std::find(pieces.begin(), pieces.end(), *line) == pieces.end()) pieces.push_back(*line);
  }
  std::string joined;
  for (const std::string& piece : pieces) joined += (joined.empty() ? "" : "|") + piece;
  return SetIniKeys(configBytes, "UpdateInfo", {{"PublicKey", joined}});
}

// The configuration text of an earlier seal; bytes the code page cannot read are taken one by
// one, which still finds the ASCII keys.
std::u16string SealedText(const std::vector<std::uint8_t>& content, unsigned codePage) {
  const std::string bytes(content.begin(), content.end());
  if (auto text = CodePageToUtf16(bytes, codePage)) return *text;
  std::u16string widened;
  for (const unsigned char c : bytes) widened += static_cast<char16_t>(c);
  return widened;
}

// Whether the trailer around `block` is one seal wrote: a whole number of cipher blocks and a
// reserved tail of zero bytes. Other bytes at the end of a program seldom look like one.
bool IsSealTrailer(ByteView& file, const std::vector<std::uint8_t>& block) {
  if (block.size() < 16 || block.size() % 8 != 0) return false;
  const std::uint64_t end = SealedTrailerEnd(file, kSealTailLength);
  std::string tail(static_cast<std::size_t>(kSealTailLength), '\x01');
  return end >= tail.size() && file.ReadAt(end - tail.size(), tail.data(), tail.size()) &&
         tail.find_first_not_of('\0') == std::string::npos;
}

void PutLittle32(std::string& bytes, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

int RunSeal(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace

const Command kSealCommand = {
    "seal",
    "[--seal-key HEX64] [--codepage N] [--public-key NAME.pub] [--unpin] "
    "[--replace-foreign-seal] --config CONFIG.ini CLIENT.exe OUT.exe",
    "  Appends the enciphered configuration CONFIG.ini to a copy of CLIENT.exe and writes it to\n"
    "  OUT.exe (which may be CLIENT.exe itself). A configuration CLIENT.exe already carries under\n"
    "  the same key is replaced, not stacked. OUT.exe is replaced only once complete.\n"
    "  Refused (exit 1): a CONFIG.ini without [UpdateInfo] or UpdateURL, an UpdateMode other\n"
    "  than 0, 1 or 2, an AppId of other characters than ASCII letters, digits, '.', '-', '_', a\n"
    "  public key that is no point on P-256, a CLIENT.exe that is no whole PE image. Warned\n"
    "  about: keys in [UpdateInfo] the client does not know, keys pinned without an AppId.\n"
    "  --config CONFIG.ini  the configuration: INI text in UTF-8, with or without a byte-order\n"
    "                       mark; line ends are stored as CR LF\n"
    "  --seal-key HEX64     the sealing key, 64 hexadecimal digits; it must be the key the client\n"
    "                       was built with (default: the key this tool was built with); --key is\n"
    "                       another spelling\n"
    "  --codepage N         the code page the client reads the configuration in (default 936);\n"
    "                       a character it cannot hold is an error\n"
    "  --public-key NAME.pub  adds the key of NAME.pub (from keygen) to PublicKey in\n"
    "                       [UpdateInfo]: the client then accepts only documents signed by one\n"
    "                       of its keys. Repeat it to pin several keys. A PublicKey that is not\n"
    "                       a list of such keys is an error.\n"
    "  --unpin              lets a configuration without keys replace one that pins keys (the\n"
    "                       client then believes any document again); refused without it\n"
    "  --replace-foreign-seal  drops a configuration CLIENT.exe carries under another seal key;\n"
    "                       refused without it\n"
    "  A signed CLIENT.exe (Authenticode) loses its signature: sign OUT.exe again afterwards.\n",
    RunSeal,
};

const Command kShowCommand = {
    "show",
    "[--seal-key HEX64] [--codepage N] FILE",
    "  Prints the configuration that the sealed client FILE carries, as UTF-8 text. Fails (exit\n"
    "  code 1) when FILE carries none or it does not decipher with the key, exit code 2 when it\n"
    "  cannot be read.\n"
    "  --seal-key HEX64     the sealing key, 64 hexadecimal digits (default: the key this tool\n"
    "                       was built with); --key is another spelling\n"
    "  --codepage N         the code page the configuration is stored in (default 936)\n",
    RunShow,
};

namespace {

int RunSeal(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kSealCommand;
  Options options;
  if (auto problem = ParseOptions(args, true, options)) return UsageError(command, *problem, err);
  if (!options.config) return UsageError(command, "--config is missing", err);
  if (options.files.size() != 2) return UsageError(command, "needs CLIENT.exe and OUT.exe", err);
  if (!CodePageAvailable(options.codePage))
    return Failed(command, "code page " + std::to_string(options.codePage) + " is not available",
                  err);
  const std::string& configPath = *options.config;
  const std::string& clientPath = options.files[0];
  const std::string& outPath = options.files[1];

  auto configBytes = ReadWholeFile(Utf8ToUtf16(configPath));
  if (!configBytes) return UsageError(command, "cannot read " + configPath, err);
  std::vector<KeyFile> keyFiles;
  for (const std::string& path : options.publicKeyFiles) {
    auto bytes = ReadWholeFile(Utf8ToUtf16(path));
    if (!bytes) return UsageError(command, "cannot read " + path, err);
    keyFiles.emplace_back(path, std::move(*bytes));
  }
  const std::u16string client16 = Utf8ToUtf16(clientPath);
  const auto client = ReadWholeFile(client16);
  if (!client) return UsageError(command, "cannot read " + clientPath, err);

  std::string problem;
  auto text = ReadConfigText(*configBytes, problem);
  if (!text) return Failed(command, configPath + ": " + problem, err);
  if (!keyFiles.empty()) {
    configBytes = AddPublicKeys(*configBytes, *text, keyFiles, problem);
    if (!configBytes) return Failed(command, problem, err);
    text = ReadConfigText(*configBytes, problem);
    if (!text) return Failed(command, configPath + ": " + problem, err);
  }
  const auto encoded = Utf16ToCodePage(*text, options.codePage);
  if (!encoded)
    return Failed(command, configPath + ": " + DescribeUnmappable(*text, options.codePage), err);
  if (encoded->empty()) return Failed(command, configPath + " is empty", err);
  std::vector<std::string> warnings;
  if (const auto refusal = ReviewConfig(*text, warnings))
    return Failed(command, configPath + ": " + *refusal, err);

  MemoryByteView view(*client);
  if (!IsCompletePeImage(view))
    return Failed(command, clientPath + " is no whole Windows program image (PE)", err);
  // An Authenticode signature could no longer verify once the file changes: it goes, with its
  // directory entry, and the client must be signed again.
  const std::optional<CertificateTable> signature = FindTrailingCertificateTable(view);
  std::size_t keep = signature ? static_cast<std::size_t>(signature->offset) : client->size();
  // An earlier seal's block goes with its trailer; one under another key only when asked, since
  // that key's holder may still mean it. Stacking a second block would hide the first for good.
  const std::uint64_t sealedEnd = SealedTrailerEnd(view, kSealTailLength);
  const std::vector<std::uint8_t> old = ReadSealedBlock(view, kSealTailLength);
  const std::vector<std::uint8_t> oldContent = DecipherBytes(old, options.key.data());
  const bool foreign = oldContent.empty() && IsSealTrailer(view, old);
  if (foreign && !options.replaceForeignSeal) {
    return Failed(command,
                  clientPath +
                      " carries a configuration sealed under another seal key: seal "
                      "with that --seal-key, or drop it with --replace-foreign-seal",
                  err);
  }
  if (foreign) warnings.push_back("replaced the configuration sealed under another seal key");
  const std::vector<std::string> dropped =
      oldContent.empty() ? std::vector<std::string>()
                         : DroppedKeys(SealedText(oldContent, options.codePage), *text);
  if (!dropped.empty() && !options.unpin) {
    std::string list;
    for (const std::string& key : dropped) list += (list.empty() ? "" : ", ") + key;
    return Failed(command,
                  clientPath + " pins key(s) this configuration would drop: " + list +
                      "; give them again (--public-key, PublicKey=) or unpin with --unpin",
                  err);
  }
  if (foreign || !oldContent.empty()) {
    const std::size_t sealed = old.size() + kSealLengthFieldSize + kSealTailLength;
    if (sealed <= sealedEnd) keep = static_cast<std::size_t>(sealedEnd) - sealed;
  }

  std::random_device random;
  const std::vector<std::uint8_t> block = FrameAndEncipher(
      std::vector<std::uint8_t>(encoded->begin(), encoded->end()), options.key.data(),
      [&random] { return static_cast<std::uint8_t>(random()); });
  if (block.empty() ||
      block.size() - 1 > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
    return Failed(command, configPath + " is too large", err);
  std::string output = client->substr(0, keep);
  if (signature && signature->directoryEntry + 8 <= output.size())
    output.replace(signature->directoryEntry, 8, 8, '\0');
  output += MakeSealedTrailer(block);
  // A checksum the linker set is kept true; zero stays zero (user-mode loaders ignore it).
  const std::optional<PeImage> image = PeImage::Read(view);
  const std::optional<std::uint64_t> checksum = image ? image->ChecksumOffset() : std::nullopt;
  if (checksum && *checksum + 4 <= keep) {
    const auto* at = reinterpret_cast<const unsigned char*>(output.data() + *checksum);
    if ((at[0] | at[1] | at[2] | at[3]) != 0)
      PutLittle32(output, *checksum, PeChecksum(output, *checksum));
  }
  if (!ReplaceFile(outPath, output, problem)) return Failed(command, problem, err);
  if (signature) {
    warnings.push_back(clientPath +
                       " carried an Authenticode signature, removed because sealing breaks it: "
                       "sign " +
                       outPath + " again");
  }
  for (const std::string& warning : warnings)
    err << "sealupdate-tool seal: warning: " << warning << '\n';
  (void)out;
  return kExitOk;
}

int RunShow(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  const Command& command = kShowCommand;
  Options options;
  if (auto problem = ParseOptions(args, false, options)) return UsageError(command, *problem, err);
  if (options.files.size() != 1) return UsageError(command, "needs exactly one FILE", err);
  if (!CodePageAvailable(options.codePage))
    return Failed(command, "code page " + std::to_string(options.codePage) + " is not available",
                  err);
  const std::string& path = options.files[0];
  const std::u16string path16 = Utf8ToUtf16(path);
  if (!InputFile::Open(path16)) return UsageError(command, "cannot read " + path, err);
  const std::vector<std::uint8_t> block = ReadSealedBlock(path16, kSealTailLength);
  if (block.empty()) return Failed(command, path + " carries no sealed configuration", err);
  const std::vector<std::uint8_t> content = DecipherBytes(block, options.key.data());
  if (content.empty())
    return Failed(command, "the configuration in " + path + " does not decipher with this key",
                  err);
  const auto text = CodePageToUtf16(std::string(content.begin(), content.end()), options.codePage);
  if (!text)
    return Failed(command,
                  "the configuration in " + path + " is not text in code page " +
                      std::to_string(options.codePage),
                  err);
  out << Utf16ToUtf8(*text);
  return kExitOk;
}

}  // namespace
}  // namespace sealupdate::tool
