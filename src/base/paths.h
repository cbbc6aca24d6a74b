// Where a file lies, decided on the text of its path alone: no file system is asked, so the
// answer is the same on every system and for files that no longer exist.
#pragma once

#include <string_view>

namespace sealupdate {

// True when `path` names a file in `folder` or in a folder below it, by Windows rules: letter
// case is ignored (the project's ToLowerUnits), "/" counts as "\", empty and "." segments are
// skipped, ".." steps back, and the "\\?\", "\\.\" and "\??\" prefixes (with "UNC\") are
// dropped. A relative or drive-relative path, a ".." above the root or a UNC root without its
// share is never inside anything, so a doubtful path fails closed.
bool IsInsideFolder(std::u16string_view path, std::u16string_view folder);

}  // namespace sealupdate
