// The main window's toolkit-free layout. Its title, client area and every control's place at 96
// and 144 DPI are pinned on the real window by the Wine scenario e2e.window.
#include "window/layout.h"

#include <gtest/gtest.h>

namespace sealupdate {
namespace {

// 15 twips a pixel at 96 DPI, rounded with halves away from zero, negative positions included; a
// font height is negative (the character height LOGFONT wants).
TEST(Layout, TwipsToPixelsRoundHalvesAwayFromZero) {
  EXPECT_EQ(TwipsToPixels(7, 96) + TwipsToPixels(8, 96), 1);
  EXPECT_EQ(TwipsToPixels(kOffscreenTwips, 96), -667);
  EXPECT_EQ(FontHeightPixels(kFontSizeHundredthsPt, 144), -17);
}

}  // namespace
}  // namespace sealupdate
