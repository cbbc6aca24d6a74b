#include <sys/stat.h>

#include "base/text.h"
#include "download/downloader.h"

namespace sealupdate {

bool MakeSureDirectoryPathExists(const std::u16string& folder) {
  std::string path = Utf16ToUtf8(folder);
  for (auto& c : path) {
    if (c == '\\') c = '/';
  }
  for (std::size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    ::mkdir(path.substr(0, at).c_str(), 0755);  // an existing folder is fine; checked below
  }
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace sealupdate
