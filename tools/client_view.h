// The client's decision as the publisher's commands show it (check, release): a sealed client
// read as it reads itself, and the lines that say what it decided.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "model/client_config.h"
#include "model/update_decision.h"
#include "options.h"
#include "startup/seal_key.h"

namespace sealupdate::tool {

// The --seal-key option (or the key this tool was built with) into `key`; a usage problem else.
std::optional<std::string> ReadSealKeyOption(const ParsedArgs& parsed, SealKey& key);

struct SealedClient {
  ClientConfig config;
  int unreadableKeys = 0;  // PublicKey pieces that are no key
};
// The configuration sealed into the client at `path`; nullopt with `problem` when the file cannot
// be read or carries no configuration for `key` (both: the command cannot run).
std::optional<SealedClient> ReadSealedClient(const std::string& path, const SealKey& key,
                                             std::string& problem);
// "client: PATH, N pinned key(s)".
void PrintClient(const std::string& path, const SealedClient& client, std::ostream& out);

// Why the client refused, in words.
std::string RefusalText(DocumentRefusal refusal, const std::optional<UpdateDocument>& document);

// "version: V advertised" and what it was compared with: `readFrom` is the main program whose
// version was read (empty when none was), `options` the ones that name it.
void PrintVersion(const UpdateDecision& decision, const std::string& readFrom, const char* options,
                  std::ostream& out);
// "integrity: ..." and "expires: ..." of an accepted document.
void PrintIntegrity(const UpdateDocument& document, std::int64_t now, std::ostream& out);
// "rollout: N % of machines on automatic checks", when the document limits it.
void PrintRollout(const UpdateDocument& document, std::ostream& out);
// "download N: URL -> Update\NAME", one line per address.
void PrintDownloads(const UpdateOffer& offer, std::ostream& out);

// The last line, "verdict: ...", and the exit code that goes with it.
int PrintVerdict(const UpdateDecision& decision, const std::optional<PackageVerdict>& package,
                 std::ostream& out);

}  // namespace sealupdate::tool
