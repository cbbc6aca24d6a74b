// Completing addresses, telling web addresses apart and naming the saved package.
#include "model/addresses.h"

#include "base/text.h"

namespace sealupdate {
namespace {

constexpr std::u16string_view kUncPrefix = u"\\\\";

// True when the address opens with a scheme ("name://", the name a letter followed by letters,
// digits, "+", "-" or ".").
bool HasScheme(std::u16string_view url) {
  const auto end = url.find(u"://");
  if (end == std::u16string_view::npos || end == 0) return false;
  const auto isLetter = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  };
  if (!isLetter(url[0])) return false;
  for (const char16_t c : url.substr(0, end)) {
    if (!isLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') {
      return false;
    }
  }
  return true;
}

bool IsReservedDeviceName(std::u16string_view name) {
  // The system maps these to devices whatever the extension and trailing spaces.
  std::u16string base = ToLowerUnits(name.substr(0, name.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  static constexpr std::u16string_view kDevices[] = {u"con", u"prn",    u"aux",
                                                     u"nul", u"conin$", u"conout$"};
  for (const auto device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, u"com") == 0 || base.compare(0, 3, u"lpt") == 0)) {
    const char16_t n = base[3];
    return (n >= u'0' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
  }
  return false;
}

}  // namespace

std::u16string CompleteAddress(std::u16string_view url) {
  std::u16string trimmed = TrimSpaces(url);
  return HasScheme(trimmed) ? trimmed : u"http://" + trimmed;
}

bool IsWebAddress(std::u16string_view url) {
  const std::u16string lower = ToLowerUnits(url.substr(0, 8));
  return lower.compare(0, 7, u"http://") == 0 || lower == u"https://";
}

std::optional<std::u16string> PackageFileName(std::u16string_view url, std::u16string_view suffix) {
  url = url.substr(0, url.find(u'#'));
  url = url.substr(0, url.find(u'?'));
  const auto scheme = url.find(u"://");
  if (scheme != std::u16string_view::npos) url.remove_prefix(scheme + 3);
  const auto pathStart = url.find(u'/');
  const std::u16string_view segment = pathStart == std::u16string_view::npos
                                          ? std::u16string_view()
                                          : url.substr(url.rfind(u'/') + 1);
  const std::u16string name = std::u16string(segment) + std::u16string(suffix);
  // Anything that could leave Update\ or name something other than a plain file there.
  if (name.empty() || name == u"." || name == u".." || IsReservedDeviceName(name)) return {};
  if (name.back() == u'.' || name.back() == u' ') return {};  // the system would strip them
  for (const char16_t unit : name) {
    if (unit == u'\\' || unit == u'/' || unit == u':' || unit < 0x20) return {};
  }
  return name;
}

std::u16string FolderWithSeparator(std::u16string_view folder) {
  const bool unc = folder.substr(0, kUncPrefix.size()) == kUncPrefix;
  if (unc) folder.remove_prefix(kUncPrefix.size());
  std::u16string path = ReplaceAll(std::u16string(folder) + u"\\", u"\\\\", u"\\");
  return unc ? std::u16string(kUncPrefix) + path : path;
}

}  // namespace sealupdate
