// The address and file-name rules every part of the client and the tool share: how an address is
// completed, which addresses may reach the shell, and the name a package is saved under.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sealupdate {

// Trimmed; "http://" is put in front unless the address names a scheme ("https://", "ftp://",
// any "name://"), as prefixing such an address would make it unreachable.
std::u16string CompleteAddress(std::u16string_view url);

// True for an address that starts with "http://" or "https://" (any letter case): the only
// kind a home-page button may hand to the shell.
bool IsWebAddress(std::u16string_view url);

// The package's file name under Update\: the last segment of the address's path (no query, no
// fragment) followed by `suffix`. nullopt when the name could land anywhere but directly inside
// that folder or is no plain file name: a separator or ":" in it, "." or "..", a device name,
// a trailing dot or space, a control character, or nothing at all.
std::optional<std::u16string> PackageFileName(std::u16string_view url, std::u16string_view suffix);

// The folder followed by one "\", doubled separators folded, so a drive root ("C:\") keeps a
// single one; the leading pair of a UNC path is kept.
std::u16string FolderWithSeparator(std::u16string_view folder);

}  // namespace sealupdate
