// `version` prints the version resource of an executable as the client reads it: the deployer's
// way to see which version the client will take from the main program.
#include <optional>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "model/version_info.h"
#include "options.h"
#include "platform/files.h"

namespace sealupdate::tool {
namespace {

// One field per line: control characters (a line break inside a copyright text) are written as
// \xHH so every value stays on its line.
std::string Printable(std::u16string_view value) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  for (const char16_t unit : value) {
    if (unit < 0x20 || unit == 0x7F) {
      out += u"\\x";
      out += kHex[unit >> 4];
      out += kHex[unit & 0xF];
    } else {
      out += unit;
    }
  }
  return Utf16ToUtf8(out);
}

int Usage(const std::string& problem, std::ostream& err) {
  err << "sealupdate-tool version: " << problem << '\n'
      << "usage: sealupdate-tool version " << kVersionCommand.synopsis << '\n';
  return kExitUsage;
}

int RunVersion(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  if (const auto problem = ParseArgs(args, {}, parsed)) return Usage(*problem, err);
  const std::vector<std::string>& files = parsed.files;
  if (files.size() != 1) return Usage("needs exactly one FILE", err);

  const std::u16string path = TrimSpaces(Utf8ToUtf16(files[0]));
  const std::optional<VersionInfo> read = ReadVersionInfo(path);
  if (!read) {
    err << "sealupdate-tool version: " << files[0]
        << (InputFile::Open(path) ? ": carries no version resource\n" : ": cannot open the file\n");
    return kExitFailed;
  }
  const VersionInfo& info = *read;
  const std::pair<const char*, const std::u16string*> fields[] = {
      {"FileName", &info.fileName},
      {"FilePath", &info.filePath},
      {"FileSize", nullptr},
      {"FileVersion", &info.fileVersion},
      {"FileFlags", &info.fileFlags},
      {"FileOS", &info.fileOs},
      {"FileType", &info.fileType},
      {"FileSubtype", &info.fileSubtype},
      {"StrucVersion", &info.strucVersion},
      {"ProductVersion", &info.productVersion},
      {"FileDescription", &info.fileDescription},
      {"ProductName", &info.productName},
      {"OriginalFilename", &info.originalFilename},
      {"InternalName", &info.internalName},
      {"CompanyName", &info.companyName},
      {"LegalCopyright", &info.legalCopyright},
  };
  for (const auto& [name, value] : fields) {
    out << name << ": " << (value ? Printable(*value) : std::to_string(info.fileSize)) << '\n';
  }
  return kExitOk;
}

}  // namespace

const Command kVersionCommand = {
    "version",
    "FILE",
    "  Prints the version resource of the executable or library FILE (32- or 64-bit) the way\n"
    "  the client reads it: sixteen lines \"Name: value\" in UTF-8, FileVersion being the\n"
    "  version the client compares. Control characters in a value are written as \\xHH. Fails\n"
    "  (exit code 1) when FILE cannot be opened or carries no version resource.\n",
    RunVersion,
};

}  // namespace sealupdate::tool
