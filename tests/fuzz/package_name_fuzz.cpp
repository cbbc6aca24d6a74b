// Any address and suffix (after a tab): an accepted package name is a plain file in Update\.
#include <cstdlib>

#include "base/paths.h"
#include "base/text.h"
#include "model/addresses.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  const std::u16string input = Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  const std::size_t tab = input.find(u'\t');
  const auto name = PackageFileName(input.substr(0, tab),
                                    tab == std::u16string::npos ? u"" : input.substr(tab + 1));
  if (name && (name->empty() || name->find_first_of(u"\\/:") != std::u16string::npos ||
               name->back() == u'.' || name->back() == u' ' ||
               !IsInsideFolder(u"C:\\App\\Update\\" + *name, u"C:\\App\\Update")))
    std::abort();
  return 0;
}
