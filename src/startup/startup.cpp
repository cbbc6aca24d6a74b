// Start-up without a window: sealed configuration, update record and update mode.
#include "startup/startup.h"

#include <cmath>

#include "base/text.h"
#include "model/document_trust.h"
#include "model/ini_document.h"
#include "platform/codepage.h"
#include "startup/sealed_block.h"
#include "startup/tea.h"

namespace sealupdate {

namespace {
constexpr char16_t kSection[] = u"UpdateInfo";
}  // namespace

std::u16string ReadSealedConfiguration(const std::u16string& exePath, const SealKey& key) {
  const std::vector<std::uint8_t> block = ReadSealedBlock(exePath, kSealTailLength);
  const std::vector<std::uint8_t> plain = DecipherBytes(block, key.data());
  return AnsiToUtf16(std::string_view(reinterpret_cast<const char*>(plain.data()), plain.size()));
}

void ApplyConfiguration(const IniDocument& ini, UpdateRecord& info) {
  info.SetSoftName(ini.GetKey(kSection, u"SoftName", u""));
  info.SetHomeURL(ini.GetKey(kSection, u"HomeURL", u""));
  for (const auto& piece : Split(ini.GetKey(kSection, u"UpdateURL", u""), u"|")) {
    const std::u16string url = TrimSpaces(piece);
    if (!url.empty()) info.AddUpdateURL(url);
  }
  info.SetUpdateText(ini.GetKey(kSection, u"UpdateText", u""));
  info.SetPinnedKeys(ParsePublicKeys(ini.GetKey(kSection, u"PublicKey", u"")));
}

std::int32_t SettleUpdateMode(std::u16string_view commandLine, std::u16string_view configuredMode) {
  const std::u16string args = TrimSpaces(commandLine);
  const double value =
      ParseLeadingNumber(args.empty() ? configuredMode : std::u16string_view(args));
  // A number past the 32-bit range is still plainly "above 2" or "below 0": clamp instead of
  // failing start-up with an overflow.
  if (std::isnan(value) || value < 0) return 0;
  if (value > 2) return 2;
  return ToInt32RoundHalfEven(value);
}

StartupState LoadStartupState(const std::u16string& exePath, std::u16string_view commandLine,
                              const SealKey& key, std::unique_ptr<UpdateRecord> info) {
  IniDocument ini;
  ini.SetAutoSave(false);
  ini.SetText(ReadSealedConfiguration(exePath, key));
  ApplyConfiguration(ini, *info);
  info->SetUpdateMode(SettleUpdateMode(commandLine, ini.GetKey(kSection, u"UpdateMode", u"")));
  StartupState state;
  state.mode = info->UpdateMode();
  state.info = std::move(info);
  return state;
}

}  // namespace sealupdate
