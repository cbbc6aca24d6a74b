// Sub-commands of sealupdate-tool. Each one parses its own arguments (those after its name) and
// returns the process exit code: 0 done, 1 refused or failed (one line on `err`), 2 could not
// run (usage, unreadable input), 3 `check`: the document is fine and offers no update; `release`:
// the document is written and offers the --installed program no update.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "startup/seal_key.h"

namespace sealupdate::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoUpdate = 3;

struct Command {
  const char* name;
  const char* synopsis;  // one line: arguments after the command name
  const char* help;      // option descriptions, one per line, indented
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

// Registered commands, in the order --help lists them. Each command defines its own object.
extern const Command kKeygenCommand;
extern const Command kReleaseCommand;
extern const Command kSignCommand;
extern const Command kCheckCommand;
extern const Command kSealCommand;
extern const Command kShowCommand;
extern const Command kVersionCommand;

// A sealing key from 64 hexadecimal digits.
std::optional<SealKey> ParseKey(const std::string& hex);

// One line "sealupdate-tool NAME: PROBLEM" on `err` (and the usage line for UsageError); the
// exit code to return.
int UsageError(const Command& command, const std::string& problem, std::ostream& err);
int Failed(const Command& command, const std::string& problem, std::ostream& err);

// Writes beside the target and renames over it, so the target is either the old file or the
// complete new one; false with `problem` set on failure.
bool ReplaceFile(const std::string& target, const std::string& bytes, std::string& problem);

// Runs the tool with argv-style arguments (without the program name). "COMMAND --help" prints
// that command's help.
int RunTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
// RunTool for the entry point: anything thrown becomes one line on `err` and exit code 1.
int RunGuarded(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace sealupdate::tool
