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
                                     std::initializer_list<OptionSpec> specs, ParsedArgs& parsed) {
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
    const auto spec = std::find_if(specs.begin(), specs.end(),
                                   [&](const OptionSpec& s) { return arg == s.name; });
    if (spec == specs.end()) return "unknown option '" + arg + "'";
    if (!spec->isSwitch && i + 1 == args.size()) return "option " + arg + " needs a value";
    const std::string name = spec->aliasOf ? spec->aliasOf : spec->name;
    const auto canonical = std::find_if(specs.begin(), specs.end(),
                                        [&](const OptionSpec& s) { return name == s.name; });
    std::vector<std::string>& values = parsed.values_[name];
    if (!values.empty() && canonical != specs.end() && !canonical->repeatable)
      return "option " + name + " is given twice";
    values.push_back(spec->isSwitch ? std::string() : args[++i]);
  }
  return std::nullopt;
}

}  // namespace sealupdate::tool
