// Command-line parsing and dispatch of sealupdate-tool.
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "commands.h"

namespace sealupdate::tool {
namespace {

const Command* const kCommands[] = {&kKeygenCommand, &kReleaseCommand, &kSignCommand,
                                    &kCheckCommand,  &kSealCommand,    &kShowCommand,
                                    &kVersionCommand};

void PrintUsage(std::ostream& s) {
  s << "usage:\n";
  for (const Command* c : kCommands)
    s << "  sealupdate-tool " << c->name << ' ' << c->synopsis << '\n';
  s << "  sealupdate-tool --help\n";
}

// "--help" or "-h" before any "--".
bool AsksForHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

}  // namespace

int UsageError(const Command& command, const std::string& problem, std::ostream& err) {
  err << "sealupdate-tool " << command.name << ": " << problem << '\n'
      << "usage: sealupdate-tool " << command.name << ' ' << command.synopsis << '\n';
  return kExitUsage;
}

int Failed(const Command& command, const std::string& problem, std::ostream& err) {
  err << "sealupdate-tool " << command.name << ": " << problem << '\n';
  return kExitFailed;
}

std::optional<SealKey> ParseKey(const std::string& hex) {
  if (hex.size() != 64) return std::nullopt;
  SealKey key{};
  for (std::size_t i = 0; i < hex.size(); ++i) {
    const char c = hex[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    key[i / 2] = static_cast<std::uint8_t>((key[i / 2] << 4) | digit);
  }
  return key;
}

// Writes beside the target and renames over it, so the target is either the old file or the
// complete new one.
bool ReplaceFile(const std::string& target, const std::string& bytes, std::string& problem) {
  namespace fs = std::filesystem;
  std::random_device random;
  const fs::path to = fs::u8path(target);
  const fs::path temporary = fs::u8path(target + ".tmp" + std::to_string(random() % 1000000));
  std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  std::error_code error;
  if (file) fs::rename(temporary, to, error);
  if (!file || error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    problem = "cannot write " + target + (error ? ": " + error.message() : std::string());
    return false;
  }
  return true;
}

int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintUsage(err);
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    out << "sealupdate-tool: prepares and inspects sealupdate clients for deployment.\n\n";
    PrintUsage(out);
    for (const Command* c : kCommands) out << '\n' << c->name << ":\n" << c->help;
    return kExitOk;
  }
  for (const Command* c : kCommands) {
    if (args[0] != c->name) continue;
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (AsksForHelp(rest)) {
      out << "usage: sealupdate-tool " << c->name << ' ' << c->synopsis << "\n\n" << c->help;
      return kExitOk;
    }
    return c->run(rest, out, err);
  }
  err << "sealupdate-tool: unknown command '" << args[0] << "'\n";
  PrintUsage(err);
  return kExitUsage;
}

int RunGuarded(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  try {
    return RunTool(args, out, err);
  } catch (const std::exception& e) {
    err << "sealupdate-tool: failed: " << e.what() << '\n';
  } catch (...) {
    err << "sealupdate-tool: failed\n";
  }
  return kExitFailed;
}

}  // namespace sealupdate::tool
