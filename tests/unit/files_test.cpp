// The file services the flow's save folders rely on: the write probe and clearing a folder.
#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "scratch.h"

namespace sealupdate {
namespace {

TEST(Files, WriteProbeAndClearingAFolder) {
  const std::u16string folder = ScratchFolder();
  EXPECT_TRUE(CanWriteInFolder(folder + u"\\a\\b"));                       // created on the way
  EXPECT_TRUE(std::filesystem::is_empty(NativePath(folder + u"\\a\\b")));  // the probe is gone
  ASSERT_TRUE(WriteWholeFile(folder + u"\\file", "x"));
  EXPECT_FALSE(CanWriteInFolder(folder + u"\\file\\sub"));  // a file in the way

  for (const char16_t* name : {u"\\Setup.exe", u"\\setup.exe.part", u"\\version.dll"})
    ASSERT_TRUE(WriteWholeFile(folder + u"\\a" + name, "x"));
  ASSERT_TRUE(CreateFolderTree(folder + u"\\a\\planted\\deeper\\"));
  ASSERT_TRUE(WriteWholeFile(folder + u"\\a\\planted\\deeper\\x.dll", "x"));
  RemoveAllBut(folder + u"\\a", {u"setup.exe", u"setup.exe.part", u"setup.exe.part.info"});
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(NativePath(folder + u"\\a")))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Setup.exe", "setup.exe.part"}));
}

}  // namespace
}  // namespace sealupdate
