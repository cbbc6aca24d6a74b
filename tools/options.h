// The one command-line parser every sub-command of sealupdate-tool uses: named options with a
// value (some repeatable) or without one (switches), plain file arguments, "--" to end the
// options.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sealupdate::tool {

struct KnownOption {
  const char* name;               // "--package"
  bool repeatable = false;        // may be given more than once
  const char* aliasOf = nullptr;  // another spelling of this option
  bool isSwitch = false;          // takes no value: given or not
};

class ParsedArgs {
 public:
  // The last value given for the option (by any of its spellings), or nullopt.
  std::optional<std::string> Last(const std::string& name) const;
  // Every value given for the option, in order.
  std::vector<std::string> All(const std::string& name) const;
  // Whether the option (a switch, or one with a value) was given.
  bool Has(const std::string& name) const { return values_.count(name) != 0; }

  std::vector<std::string> files;

 private:
  friend std::optional<std::string> ParseArgs(const std::vector<std::string>&,
                                              std::initializer_list<KnownOption>, ParsedArgs&);
  std::map<std::string, std::vector<std::string>> values_;
};

// Fills `parsed`; on a usage error returns its description. Every option but a switch takes a
// value; "-" alone is a file name.
std::optional<std::string> ParseArgs(const std::vector<std::string>& args,
                                     std::initializer_list<KnownOption> known, ParsedArgs& parsed);

}  // namespace sealupdate::tool
