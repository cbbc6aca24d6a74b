// Parsing the sub-commands' arguments.
#include "options.h"

#include <algorithm>

namespace sealupdate::tool {

std::optional<std::string> ParsedArgs::Last(const std::string& name) const {
  const auto it = values_.find(name);
  if (it == values_.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> ParsedArgs::All(const std::string& name) const {
  const auto it = values_.find(name);
  return it == values_.end() ? std::vector<std::string>() : it->second;
}

std::optional<std::string> ParseArgs(const std::vector<std::string>& args,
                                     std::initializer_list<KnownOption> known, ParsedArgs& parsed) {
  bool onlyFiles = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyFiles || arg.size() < 2 || arg[0] != '-') {
      parsed.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      onlyFiles = true;
      continue;
    }
    const auto option = std::find_if(known.begin(), known.end(),
                                     [&](const KnownOption& s) { return arg == s.name; });
    if (option == known.end()) return "unknown option '" + arg + "'";
    if (!option->isSwitch && i + 1 == args.size()) return "option " + arg + " needs a value";
    const std::string name = option->aliasOf ? option->aliasOf : option->name;
    const auto canonical = std::find_if(known.begin(), known.end(),
                                        [&](const KnownOption& s) { return name == s.name; });
    std::vector<std::string>& values = parsed.values_[name];
    if (!values.empty() && canonical != known.end() && !canonical->repeatable)
      return "option " + name + " is given twice";
    values.push_back(option->isSwitch ? std::string() : args[++i]);
  }
  return std::nullopt;
}

}  // namespace sealupdate::tool
