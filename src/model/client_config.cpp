// Reading the sealed settings into the client's immutable configuration.
#include "model/client_config.h"

#include <cmath>

#include "base/text.h"
#include "model/addresses.h"
#include "model/ini_document.h"

namespace sealupdate {
namespace {
constexpr char16_t kSection[] = u"UpdateInfo";
}  // namespace

UpdateMode SettleUpdateMode(std::u16string_view commandLine, std::u16string_view configuredMode) {
  const std::u16string args = TrimSpaces(commandLine);
  const double value =
      ParseLeadingNumber(args.empty() ? configuredMode : std::u16string_view(args));
  // A number past the 32-bit range is still plainly "above 2" or "below 0": clamp instead of
  // failing start-up with an overflow.
  if (std::isnan(value) || value < 0) return UpdateMode::Manual;
  if (value > 2) return UpdateMode::Silent;
  switch (ToInt32RoundHalfEven(value)) {
    case 0:
      return UpdateMode::Manual;
    case 1:
      return UpdateMode::CheckAtStart;
    default:
      return UpdateMode::Silent;
  }
}

bool IsValidAppId(std::u16string_view appId) {
  if (appId.empty()) return false;
  for (const char16_t c : appId) {
    const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !digit && c != u'.' && c != u'-' && c != u'_') return false;
  }
  return true;
}

ClientConfig ReadClientConfig(std::u16string_view configurationText,
                              std::u16string_view clientFolder, std::u16string_view commandLine) {
  IniDocument ini;
  ini.SetText(configurationText);
  const auto get = [&](const char16_t* key) { return ini.GetKey(kSection, key, u""); };
  ClientConfig config;
  config.programName = get(u"SoftName");
  config.homePage = get(u"HomeURL");
  for (const auto& piece : Split(get(u"UpdateURL"), u"|")) {
    if (TrimSpaces(piece).empty()) continue;
    if (config.updateAddresses.empty()) config.rolloutAddress = TrimSpaces(piece);
    config.updateAddresses.push_back(CompleteAddress(piece));
  }
  config.notes = get(u"UpdateText");
  config.pinnedKeys = ParsePublicKeys(get(u"PublicKey"));
  config.appId = TrimSpaces(get(u"AppId"));
  config.clientFolder = FolderWithSeparator(clientFolder);
  config.mode = SettleUpdateMode(commandLine, get(u"UpdateMode"));
  config.modeFromCommandLine = !TrimSpaces(commandLine).empty();
  return config;
}

}  // namespace sealupdate
