// Window geometry that does not depend on the toolkit.
#include "window/layout.h"

#include <cmath>

namespace sealupdate {

std::u16string MainWindowTitle(std::u16string_view softName) {
  if (softName.empty()) return kDefaultTitle;
  return std::u16string(softName) + u" - " + kDefaultTitle;
}

int TwipsToPixels(int twips, int dpi) {
  return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / 1440.0));
}

int FontHeightPixels(int hundredthsPt, int dpi) {
  return -static_cast<int>(std::lround(static_cast<double>(hundredthsPt) * dpi / 7200.0));
}

}  // namespace sealupdate
