// The client's settings as sealed into its executable, read once at start-up and never changed:
// everything the update decision and the flow need to know about the installed program.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/document_trust.h"

namespace sealupdate {

enum class UpdateMode {
  Manual,        // the window waits for the user's check
  CheckAtStart,  // the window shows and checks at once
  Silent,        // hidden, checks at once, shows itself only when the user accepts an update
};

// Modes that show the window from the start also keep a notification icon with balloons.
constexpr bool ShowsWindowAtStart(UpdateMode mode) { return mode != UpdateMode::Silent; }
constexpr bool ChecksAtStart(UpdateMode mode) { return mode != UpdateMode::Manual; }

struct ClientConfig {
  std::u16string programName;                   // SoftName
  std::u16string homePage;                      // HomeURL
  std::vector<std::u16string> updateAddresses;  // UpdateURL, completed, blanks dropped, in order
  std::u16string rolloutAddress;  // the first of them as sealed, trimmed: places the machine in a
                                  // staged rollout (RolloutBucket)
  std::u16string notes;           // UpdateText
  TrustAnchors pinnedKeys;        // PublicKey
  std::u16string appId;         // AppId: with pinned keys, only documents naming this product count
  std::u16string clientFolder;  // the client's own folder, ending with "\"
  UpdateMode mode = UpdateMode::Manual;
  bool modeFromCommandLine = false;  // else sealed
};

// The mode: the command line (text after the program name) wins whenever it is not blank, even
// without a number; otherwise the configured value. Read as a leading number, halves rounded to
// even, clamped to the three modes (values beyond the 32-bit range clamp too).
UpdateMode SettleUpdateMode(std::u16string_view commandLine, std::u16string_view configuredMode);

// The settings of the "UpdateInfo" section of deciphered configuration text; text that is no
// configuration gives empty settings.
// An AppId is ASCII letters, digits, ".", "-" and "_", at least one of them.
bool IsValidAppId(std::u16string_view appId);

ClientConfig ReadClientConfig(std::u16string_view configurationText,
                              std::u16string_view clientFolder, std::u16string_view commandLine);

}  // namespace sealupdate
