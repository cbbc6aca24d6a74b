// Files and texts the publisher's commands share: reading inputs, hashing a package, creating a
// key file, writing times and keys the way the documents carry them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/crypto.h"
#include "platform/files.h"

namespace sealupdate::tool {

// The whole file at a UTF-8 path, or nullopt.
std::optional<std::string> ReadFile(const std::string& path);

// Size and SHA-256 of a file, read in pieces so a package of any size costs no memory.
std::optional<std::pair<std::uint64_t, Sha256Digest>> HashFile(const std::string& path);

// Creates the file only when nothing is there yet, readable by its owner alone where the system
// has such a notion.
bool CreateNewFile(const std::string& path, const std::string& bytes, bool ownerOnly);

// YYYY-MM-DDTHH:MM:SSZ, as Expires is written.
std::string FormatUtc(std::int64_t seconds);

// A public key as its one base64 line.
std::string PublicKeyText(const P256PublicKey& key);

}  // namespace sealupdate::tool
