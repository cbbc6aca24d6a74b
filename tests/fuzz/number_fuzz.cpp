// The leading-number parse and the rounding conversion on arbitrary UTF-16 text: no crash, no
// undefined behaviour, and the conversion either fits 32 bits or reports overflow.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  }
  const double value = sealupdate::ParseLeadingNumber(text);
  if (std::isnan(value)) std::abort();
  try {
    const std::int32_t n = sealupdate::ToInt32RoundHalfEven(value);
    if (std::fabs(static_cast<double>(n) - value) > 0.5) std::abort();
  } catch (const std::overflow_error&) {
    if (std::fabs(value) < 2147483647.0) std::abort();
  }
  // The same bytes read as UTF-8 must survive the round trip through UTF-16 unchanged when valid.
  const std::string utf8(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = sealupdate::Utf8ToUtf16(utf8);
  if (sealupdate::Utf8ToUtf16(sealupdate::Utf16ToUtf8(wide)) != wide) std::abort();
  return 0;
}
