// The number parse and rounding on arbitrary UTF-16: no crash or undefined behaviour, a result
// that fits 32 bits or an overflow; the same bytes as UTF-8 survive a round trip through UTF-16.
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "base/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sealupdate;
  std::u16string text(size / 2, u'\0');
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = data[2 * i] | data[2 * i + 1] << 8;
  const double value = ParseLeadingNumber(text);
  if (std::isnan(value)) std::abort();
  try {
    if (!(std::fabs(ToInt32RoundHalfEven(value) - value) <= 0.5)) std::abort();
  } catch (const std::overflow_error&) {
    if (std::fabs(value) < 2147483647.0) std::abort();
  }
  const std::u16string wide = Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  if (Utf8ToUtf16(Utf16ToUtf8(wide)) != wide) std::abort();
  return 0;
}
