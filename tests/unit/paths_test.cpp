#include <gtest/gtest.h>

#include <string>

#include "base/paths.h"
#include "base/text.h"

namespace sealupdate {
namespace {

struct InsideCase {
  std::u16string path;
  std::u16string folder;
  bool inside;
};

TEST(Paths, IsInsideFolder) {
  const InsideCase cases[] = {
      // In the folder and below it; the folder with or without its trailing separator.
      {u"C:\\App\\main.exe", u"C:\\App\\", true},
      {u"C:\\App\\bin\\x64\\main.exe", u"C:\\App\\", true},
      {u"C:\\App\\main.exe", u"C:\\App", true},
      {u"C:\\main.exe", u"C:\\", true},
      // Letter case, ASCII and beyond it; drive letters from a to z.
      {u"c:\\APP\\MAIN.EXE", u"C:\\app\\", true},
      {u"A:\\App\\main.exe", u"a:\\App", true},
      {u"z:\\App\\main.exe", u"Z:\\App", true},
      {u"C:\\ПРОГРАММА\\main.exe", u"c:\\программа\\", true},
      {u"C:\\软件\\main.exe", u"C:\\软件\\", true},
      // Either separator, doubled separators, "." segments.
      {u"C:/App/main.exe", u"C:\\App\\", true},
      {u"C:\\App\\main.exe", u"C:/App/", true},
      {u"C:\\\\App\\\\sub\\\\main.exe", u"C:\\App\\", true},
      {u"C:\\App\\.\\main.exe", u"C:\\App\\", true},
      {u"C:\\Other\\..\\App\\main.exe", u"C:\\App\\", true},
      // Namespace prefixes on either side.
      {u"\\\\?\\C:\\App\\main.exe", u"C:\\App\\", true},
      {u"C:\\App\\main.exe", u"\\\\?\\C:\\App\\", true},
      {u"\\\\.\\C:\\App\\main.exe", u"C:\\App\\", true},
      {u"\\??\\C:\\App\\main.exe", u"C:\\App\\", true},
      {u"\\\\?\\UNC\\srv\\share\\App\\main.exe", u"\\\\srv\\share\\App\\", true},
      {u"\\\\SRV\\Share\\App\\main.exe", u"\\\\srv\\share\\App\\", true},
      // Native paths are rooted without a drive.
      {u"/opt/app/main.exe", u"/opt/app/\\", true},

      // Beside or above the folder.
      {u"C:\\App2\\main.exe", u"C:\\App\\", false},
      {u"C:\\Ap\\main.exe", u"C:\\App\\", false},
      {u"C:\\AppX.exe", u"C:\\App", false},
      {u"C:\\main.exe", u"C:\\App\\", false},
      {u"D:\\App\\main.exe", u"C:\\App\\", false},
      {u"C:\\Windows\\explorer.exe", u"C:\\App\\", false},
      // The folder itself is no file in it.
      {u"C:\\App\\", u"C:\\App\\", false},
      {u"C:\\App", u"C:\\App\\", false},
      {u"C:\\App\\sub\\..", u"C:\\App\\", false},
      // ".." leaves the folder; above the root it is refused.
      {u"C:\\App\\..\\Other\\main.exe", u"C:\\App\\", false},
      {u"C:\\App\\..\\App2\\main.exe", u"C:\\App\\", false},
      {u"C:/App/sub/../../Other/main.exe", u"C:\\App\\", false},
      {u"C:\\..\\App\\main.exe", u"C:\\App\\", false},
      {u"C:\\App\\main.exe", u"C:\\..\\App\\", false},
      {u"\\\\srv\\share\\..\\other\\App\\main.exe", u"\\\\srv\\other\\App\\", false},
      {u"\\\\srv\\share\\App\\main.exe", u"\\\\srv\\share2\\App\\", false},
      {u"\\\\srv2\\share\\App\\main.exe", u"\\\\srv\\share\\App\\", false},
      {u"\\\\srv\\.\\App\\main.exe", u"\\\\srv\\.\\App\\", false},
      // A UNC root is not a drive, nor a rooted path of the same names.
      {u"\\\\C:\\App\\main.exe", u"C:\\App\\", false},
      {u"\\srv\\share\\App\\main.exe", u"\\\\srv\\share\\App\\", false},
      // Relative, drive-relative, NT device and empty paths are never inside anything.
      {u"App\\main.exe", u"App\\", false},
      {u"C:App\\main.exe", u"C:App\\", false},
      {u"C:App\\main.exe", u"C:\\", false},
      {u"1:\\App\\main.exe", u"1:\\App\\", false},
      {u"\\Device\\HarddiskVolume2\\App\\main.exe", u"C:\\App\\", false},
      {u"", u"C:\\App\\", false},
      {u"C:\\App\\main.exe", u"", false},
      {u"\\\\srv\\main.exe", u"\\\\srv\\", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsInsideFolder(c.path, c.folder), c.inside)
        << Utf16ToUtf8(c.path) << " in " << Utf16ToUtf8(c.folder);
  }
}

}  // namespace
}  // namespace sealupdate
