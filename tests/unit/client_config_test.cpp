// The client's sealed settings: its mode, update addresses, folder and pinned keys.
#include "model/client_config.h"

#include <gtest/gtest.h>

#include "base/text.h"
#include "model/addresses.h"

namespace sealupdate {
namespace {

TEST(ClientConfig, SettlesTheModeFromTheCommandLineOrTheConfiguration) {
  constexpr auto M = UpdateMode::Manual, C = UpdateMode::CheckAtStart, S = UpdateMode::Silent;
  // Command line, configured mode, mode.
  const std::tuple<const char16_t*, const char16_t*, UpdateMode> cases[] = {
      {u"  1  ", u"0", C}, {u"7", u"0", S},    {u"-3", u"2", M},   {u"now", u"2", M},
      {u"2.5", u"0", S},   {u"0.5", u"2", M},  {u"   ", u"2", S},  {u"", u"1", C},
      {u"", u"x", M},      {u"&H1", u"0", C},  {u"1e10", u"0", S}, {u"", u"99999999999", S},
      {u"1.5", u"0", S},   {u"", u"-1e10", M},
  };
  for (const auto& [commandLine, configured, mode] : cases)
    EXPECT_EQ(SettleUpdateMode(commandLine, configured), mode) << Utf16ToUtf8(commandLine);
}

// Trimmed; "http://" in front unless a scheme is named; blank pieces dropped; the folder gets
// one separator; pinned keys are required as soon as one is named, even an unreadable one.
TEST(ClientConfig, ReadsAddressesFolderAndKeys) {
  const ClientConfig config = ReadClientConfig(
      u"[updateinfo]\r\nupdateurl=  server/u.ini | | HtTpS://Server/u|a-0.b+c://s/u|"
      u"https:/server|1a://server|server/a://b|://server\r\nPublicKey=nonsense\r\n",
      u"D:\\Soft", u"");
  EXPECT_EQ(
      config.updateAddresses,
      (std::vector<std::u16string>{u"http://server/u.ini", u"HtTpS://Server/u", u"a-0.b+c://s/u",
                                   u"http://https:/server", u"http://1a://server",
                                   u"http://server/a://b", u"http://://server"}));
  EXPECT_EQ(config.clientFolder, u"D:\\Soft\\");
  EXPECT_TRUE(config.pinnedKeys.required);
  EXPECT_TRUE(config.pinnedKeys.keys.empty());

  const ClientConfig empty = ReadClientConfig(u"", u"\\\\srv\\s\\", u"");
  EXPECT_EQ(empty.clientFolder, u"\\\\srv\\s\\");
  EXPECT_FALSE(empty.pinnedKeys.required);
  EXPECT_TRUE(empty.updateAddresses.empty());
  EXPECT_EQ(ReadClientConfig(u"", u"C:\\", u"").clientFolder, u"C:\\");
  EXPECT_EQ(CompleteAddress(u""), u"http://");
  EXPECT_TRUE(IsValidAppId(u"com.example-1_x") && !IsValidAppId(u"") &&
              !IsValidAppId(u"com example") && !IsValidAppId(u"产品"));
}

}  // namespace
}  // namespace sealupdate
