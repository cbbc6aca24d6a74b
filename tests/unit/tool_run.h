// Runs sealupdate-tool in-process and keeps what it said.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "commands.h"

namespace sealupdate::tool {

struct Result {
  int code;
  std::string out, err;
};

inline Result RunArgs(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int code = RunTool(args, out, err);
  return {code, out.str(), err.str()};
}

}  // namespace sealupdate::tool
