// The portable steps of start-up: from the bytes of the own executable to the client's
// configuration with its settled update mode. The Windows entry point adds the window around it.
#pragma once

#include <string>
#include <string_view>

#include "model/client_config.h"
#include "startup/seal_key.h"

namespace sealupdate {

// Reads the sealed block at the end of `exePath` and deciphers it into configuration text
// (converted from the ANSI code page). Every failure gives an empty text.
std::u16string ReadSealedConfiguration(const std::u16string& exePath, const SealKey& key);

// The configuration sealed into `exePath` (empty settings when there is none), its folder as
// the client's folder, and the mode settled with the command line.
ClientConfig LoadClientConfig(const std::u16string& exePath, std::u16string_view commandLine,
                              const SealKey& key);

}  // namespace sealupdate
