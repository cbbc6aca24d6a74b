// What `seal` checks in a configuration before it writes: settings a client could not work
// with are refused, likely mistakes are warned about, and keys an earlier seal pinned are not
// dropped unnoticed.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sealupdate::tool {

// The first fault of the configuration text that would leave a client unable to update (no
// [UpdateInfo], no UpdateURL, an UpdateMode other than 0-2, an AppId the client cannot match,
// a PublicKey piece that is no P-256 key), or nullopt. Suspected mistakes go to `warnings`.
std::optional<std::string> ReviewConfig(const std::u16string& text,
                                        std::vector<std::string>& warnings);

// The PublicKey pieces of `oldText`, an earlier seal's configuration, when `newText` pins no
// key: what resealing would unpin. Empty when nothing would be.
std::vector<std::string> DroppedKeys(const std::u16string& oldText, const std::u16string& newText);

}  // namespace sealupdate::tool
