// The portable steps of start-up: from the bytes of the own executable to a filled update record
// and the settled update mode. The Windows entry point adds the window around them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/ini_document.h"
#include "model/update_record.h"
#include "startup/seal_key.h"

namespace sealupdate {

// Reads the sealed block at the end of `exePath` and deciphers it into configuration text
// (converted from the ANSI code page). Every failure gives an empty text.
std::u16string ReadSealedConfiguration(const std::u16string& exePath, const SealKey& key);

// Copies SoftName, HomeURL, UpdateURL (split at "|", blanks trimmed, empty pieces skipped) and
// UpdateText from the configuration's "UpdateInfo" section into the record, and the keys that
// PublicKey pins.
void ApplyConfiguration(const IniDocument& configuration, UpdateRecord& info);

// The update mode: the command line (text after the program name) wins whenever it is not
// blank, even without a number; otherwise the configured value. Read as a leading number,
// rounded halves to even and clamped to 0..2 (values beyond the 32-bit range clamp too).
std::int32_t SettleUpdateMode(std::u16string_view commandLine, std::u16string_view configuredMode);

struct StartupState {
  std::unique_ptr<UpdateRecord> info;
  std::int32_t mode = 0;
};

// Runs the start-up steps that need no window: sealed block, configuration, record, mode.
StartupState LoadStartupState(const std::u16string& exePath, std::u16string_view commandLine,
                              const SealKey& key, std::unique_ptr<UpdateRecord> info);

}  // namespace sealupdate
