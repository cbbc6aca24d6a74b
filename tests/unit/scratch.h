// A fresh folder for the running test. CTest runs test cases in parallel processes, so every
// case that writes files needs its own folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {

// A path as the standard library wants it: UTF-8 with the native separator.
inline std::string NativePath(const std::u16string& path) {
  std::string native = Utf16ToUtf8(path);
#ifndef _WIN32
  std::replace(native.begin(), native.end(), '\\', '/');
#endif
  return native;
}

inline std::u16string ScratchFolder() {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  std::replace(name.begin(), name.end(), '/', '_');  // parameterised names
  const std::u16string folder = FolderOf(GetOwnExePath()) + u"\\scratch\\" + Utf8ToUtf16(name);
  std::filesystem::remove_all(std::filesystem::u8path(NativePath(folder)));
  std::filesystem::create_directories(std::filesystem::u8path(NativePath(folder)));
  return folder;
}

}  // namespace sealupdate
