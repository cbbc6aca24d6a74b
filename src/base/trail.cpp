// Trail lines and the redaction of what goes into them.
#include "base/trail.h"

namespace sealupdate {

void Trail::Write(std::string_view line) const {
  if (sink_) sink_("sealupdate: " + std::string(line));
}

std::string TrailText(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += "0123456789ABCDEF"[(unit >> shift) & 0xF];
    }
  }
  return out;
}

std::string AddressForTrail(std::u16string_view url) {
  url = url.substr(0, url.find_first_of(u"?#"));
  const std::size_t scheme = url.find(u"://");
  const std::size_t hostStart = scheme == std::u16string_view::npos ? 0 : scheme + 3;
  const std::size_t pathStart = url.find(u'/', hostStart);
  const std::u16string_view authority = url.substr(hostStart, pathStart - hostStart);
  const std::size_t at = authority.rfind(u'@');
  if (at == std::u16string_view::npos) return TrailText(url);
  std::u16string redacted(url.substr(0, hostStart));
  redacted += authority.substr(at + 1);
  if (pathStart != std::u16string_view::npos) redacted += url.substr(pathStart);
  return TrailText(redacted);
}

}  // namespace sealupdate
