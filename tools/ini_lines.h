// Line-level edits of INI bytes for the tool: the update document and the configuration are
// edited where they stand, every other byte kept, so an edit never re-encodes or reflows text
// the publisher wrote. Works on ASCII-compatible text (UTF-8, GBK): a line break byte and an
// ASCII key at the start of a line mean the same in all of them.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sealupdate::tool {

using IniKeys = std::vector<std::pair<std::string, std::string>>;

// Sets each key of `keys` in the first section named `section` (letter case ignored) and removes
// every other line of those keys from every section of that name. The new lines go after the
// section's last non-blank line and end like the document's first line (CR LF when it has
// none). A missing section is appended.
std::string SetIniKeys(std::string_view bytes, std::string_view section, const IniKeys& keys);

// The bytes without any section whose header line is exactly "[Signature]" (its lines up to the
// next section header go with it), ending with CR LF: what a new signature section follows.
std::string WithoutSignatureSection(std::string_view bytes);

}  // namespace sealupdate::tool
