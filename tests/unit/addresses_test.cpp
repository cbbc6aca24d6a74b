// The address rules: completing addresses, web addresses for the shell, the package's name.
#include "model/addresses.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace sealupdate {
namespace {

TEST(Addresses, PackageNamesThatCouldLeaveTheFolderAreRefused) {
  // Address, suffix and name, split at "|": the name is never decoded.
  for (const char16_t* kept :
       {u"http://h/dl/setup.bin|.exe|setup.bin.exe", u"https://h/a/b/c.zip?x=/y#/z||c.zip",
        u"http://h/%2e%2e%5cx.exe||%2e%2e%5cx.exe", u"http://h/|setup.exe|setup.exe",
        u"h/x/console.exe||console.exe", u"http://h/com10.exe||com10.exe", u"http://h/coma||coma",
        u"http://h/set up.exe||set up.exe"}) {
    const auto parts = Split(kept, u"|");
    EXPECT_EQ(PackageFileName(parts[0], parts[1]), parts[2]) << Utf16ToUtf8(kept);
  }
  // Path after "http://h/" and suffix, split at "|".
  const char16_t* const refused[] = {
      u"x|/../y.exe",  u"setup|:stream",  u"C:evil.exe|",    u"..|",           u".|",
      u"dl/|",         u"nul|.exe",       u"CON.txt|",       u"Com1 .exe|",    u"lpt9|",
      u"conout$|",     u"com0|",          u"prn|",           u"aux|",          u"conin$|",
      u"COM\u00B9|",   u"com\u00B3|",     u"lpt\u00B2.txt|", u"setup.exe|.",   u"setup.exe |",
      u"set\nup.exe|", u"set\x1Fup.exe|", u"..\\a.exe|",     u"a|\\..\\b.exe",
  };
  for (const char16_t* address : refused) {
    const auto parts = Split(address, u"|");
    EXPECT_EQ(PackageFileName(u"http://h/" + parts[0], parts[1]), std::nullopt)
        << Utf16ToUtf8(address);
  }
  EXPECT_EQ(PackageFileName(u"http://h", u""), std::nullopt);  // the host is no name
  for (const char16_t* c :
       {u"HTTPS://h|1", u"Http://|1", u"http:/h|", u"file:///C:/x.exe|", u" http://h|", u"https:|"})
    EXPECT_EQ(IsWebAddress(Split(c, u"|")[0]), !Split(c, u"|")[1].empty()) << Utf16ToUtf8(c);
}

TEST(Addresses, CompletedAddressesAndFolders) {
  // Given and completed, split at "|".
  for (const char16_t* c :
       {u"  server/u.ini |http://server/u.ini", u" HtTpS://Server/u|HtTpS://Server/u",
        u"server/a://b|http://server/a://b", u"://server|http://://server", u"|http://"}) {
    const auto parts = Split(c, u"|");
    EXPECT_EQ(CompleteAddress(parts[0]), parts[1]) << Utf16ToUtf8(c);
  }
  EXPECT_EQ(FolderWithSeparator(u"D:\\Soft") + u"|" + FolderWithSeparator(u"C:\\") + u"|" +
                FolderWithSeparator(u"\\\\srv\\s\\"),
            u"D:\\Soft\\|C:\\|\\\\srv\\s\\");
}

}  // namespace
}  // namespace sealupdate
