// Command-line parsing and dispatch of sealupdate-tool.
#include <iterator>

#include "commands.h"

namespace sealupdate::tool {
namespace {

const Command* const kCommands[] = {&kSealCommand, &kShowCommand, &kVersionCommand};

void PrintUsage(std::ostream& s) {
  s << "usage:\n";
  for (const Command* c : kCommands)
    s << "  sealupdate-tool " << c->name << ' ' << c->synopsis << '\n';
  s << "  sealupdate-tool --help\n";
}

}  // namespace

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
    if (args[0] == c->name)
      return c->run(std::vector<std::string>(args.begin() + 1, args.end()), out, err);
  }
  err << "sealupdate-tool: unknown command '" << args[0] << "'\n";
  PrintUsage(err);
  return kExitUsage;
}

}  // namespace sealupdate::tool
