#include "download/downloader.h"
#include "platform/win32.h"

namespace sealupdate {

bool MakeSureDirectoryPathExists(const std::u16string& folder) {
  const std::wstring path = win::Wide(folder);
  // Create each missing folder from the top; the parts that cannot be created (a drive, the
  // server and share of a UNC path) must already exist, which the final check tells.
  for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    if (at == 0 || path[at - 1] == L':' || path[at - 1] == L'\\') continue;
    const std::wstring part = path.substr(0, at);
    if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES) {
      CreateDirectoryW(part.c_str(), nullptr);
    }
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace sealupdate
