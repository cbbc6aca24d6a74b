// Sub-commands of sealupdate-tool. Each one parses its own arguments (those after its name) and
// returns the process exit code: 0 done, 1 failed (one line on `err`), 2 usage error.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace sealupdate::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Command {
  const char* name;
  const char* synopsis;  // one line: arguments after the command name
  const char* help;      // option descriptions, one per line, indented
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

// Registered commands, in the order --help lists them. Each command defines its own object.
extern const Command kSealCommand;
extern const Command kShowCommand;
extern const Command kVersionCommand;

// Runs the tool with argv-style arguments (without the program name).
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace sealupdate::tool
