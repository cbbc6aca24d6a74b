// The configuration checks of `seal`, read the way the client reads its configuration.
#include "seal_review.h"

#include <algorithm>
#include <iterator>

#include "base/text.h"
#include "model/client_config.h"
#include "model/document_trust.h"
#include "model/ini_document.h"
#include "signing.h"

namespace sealupdate::tool {
namespace {

constexpr char16_t kSection[] = u"UpdateInfo";
constexpr const char16_t* kKnownKeys[] = {u"SoftName",   u"HomeURL",   u"UpdateURL", u"UpdateText",
                                          u"UpdateMode", u"PublicKey", u"AppId"};

// The non-blank pieces of a PublicKey value, trimmed.
std::vector<std::u16string> KeyPieces(const IniDocument& ini) {
  std::vector<std::u16string> pieces;
  for (const std::u16string& piece : Split(ini.GetKey(kSection, u"PublicKey", u""), u"|")) {
    if (!TrimSpaces(piece).empty()) pieces.push_back(TrimSpaces(piece));
  }
  return pieces;
}

// A key the client could not read, or one off the curve, makes it refuse every document.
std::optional<std::string> CheckPublicKeys(const IniDocument& ini) {
  const std::vector<std::u16string> pieces = KeyPieces(ini);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const TrustAnchors anchors = ParsePublicKeys(pieces[i]);
    const std::string named = "PublicKey piece " + std::to_string(i + 1) + " (" +
                              Utf16ToUtf8(pieces[i].substr(0, 16)) + "...)";
    if (anchors.keys.size() != 1)
      return named + " is no public key line (base64 of a 65-byte point 04||X||Y)";
    if (!IsP256Point(anchors.keys[0])) return named + " is not a point on P-256";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ReviewConfig(const std::u16string& text,
                                        std::vector<std::string>& warnings) {
  IniDocument ini;
  ini.SetText(text);
  const std::vector<std::u16string> sections = ini.SectionNames();
  if (std::none_of(sections.begin(), sections.end(),
                   [](const std::u16string& s) { return EqualsIgnoreCase(s, kSection); })) {
    return "no [UpdateInfo] section: the client would have no settings";
  }
  // Names match without regard to case, as the client reads them.
  for (const std::u16string& key : ini.KeyNames(kSection)) {
    if (std::none_of(std::begin(kKnownKeys), std::end(kKnownKeys),
                     [&](const char16_t* known) { return EqualsIgnoreCase(key, known); })) {
      warnings.push_back("unknown key '" + Utf16ToUtf8(key) +
                         "' in [UpdateInfo]: the client ignores it");
    }
  }
  const ClientConfig config = ReadClientConfig(text, u"", u"");
  if (config.updateAddresses.empty())
    return "no UpdateURL in [UpdateInfo]: the client would have nowhere to look for updates";
  const std::u16string mode = TrimSpaces(ini.GetKey(kSection, u"UpdateMode", u""));
  if (!mode.empty() && mode != u"0" && mode != u"1" && mode != u"2")
    return "UpdateMode=" + Utf16ToUtf8(mode) + " is not 0, 1 or 2";
  if (!config.appId.empty() && !IsValidAppId(config.appId)) {
    return "AppId=" + Utf16ToUtf8(config.appId) +
           " may hold only ASCII letters, digits, '.', '-' and '_'";
  }
  if (auto problem = CheckPublicKeys(ini)) return problem;
  if (config.pinnedKeys.required && config.appId.empty()) {
    warnings.push_back(
        "keys are pinned without an AppId: a document signed with them for another product "
        "would reach this client too");
  }
  return std::nullopt;
}

std::vector<std::string> DroppedKeys(const std::u16string& oldText, const std::u16string& newText) {
  IniDocument before, after;
  before.SetText(oldText);
  after.SetText(newText);
  std::vector<std::string> dropped;
  if (!KeyPieces(after).empty()) return dropped;
  for (const std::u16string& piece : KeyPieces(before)) dropped.push_back(Utf16ToUtf8(piece));
  return dropped;
}

}  // namespace sealupdate::tool
