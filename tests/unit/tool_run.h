// Runs sealupdate-tool in-process and keeps what it said.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "commands.h"
#include "platform/files.h"
#include "scratch.h"

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

// A fixture with a scratch folder of its own and named files in it.
class ToolFolder : public ::testing::Test {
 protected:
  std::string folder_ = NativePath(ScratchFolder());
  std::string Path(const std::string& name) const { return folder_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(WriteWholeFile(Utf8ToUtf16(Path(name)), bytes));
  }
  std::string Read(const std::string& name) const {
    return ReadWholeFile(Utf8ToUtf16(Path(name))).value_or("<missing>");
  }
};

}  // namespace sealupdate::tool
