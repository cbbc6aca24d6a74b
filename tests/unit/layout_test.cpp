// Tests of the main window's toolkit-free layout: its title, twips to pixels and the places of
// its controls.
#include "window/layout.h"

#include <gtest/gtest.h>

#include <set>

namespace sealupdate {
namespace {

// 15 twips a pixel at 96 DPI, rounded to the nearest pixel with halves away from zero, negative
// positions included; a font height is negative (the character height LOGFONT wants).
TEST(Layout, TitleAndTwipsToPixels) {
  EXPECT_EQ(MainWindowTitle(u""), kDefaultTitle);
  EXPECT_EQ(MainWindowTitle(u"App"), std::u16string(u"App - ") + kDefaultTitle);
  EXPECT_EQ(TwipsToPixels(kClientWidthTwips, 144), 626);
  EXPECT_EQ(TwipsToPixels(7, 96) + TwipsToPixels(8, 96), 1);
  EXPECT_EQ(TwipsToPixels(kOffscreenTwips, 96), -667);
  EXPECT_EQ(FontHeightPixels(kFontSizeHundredthsPt, 144), -17);
}

// The window is not resizable: every control must lie inside its client area.
TEST(Layout, ControlsFitTheClientAreaWithDistinctIds) {
  std::set<int> ids;
  for (const ControlLayout& c : kControls) {
    EXPECT_TRUE(ids.insert(c.id).second) << c.id;
    EXPECT_TRUE(c.left >= 0 && c.top >= 0 && c.width > 0 && c.height > 0) << c.id;
    EXPECT_LE(c.left + c.width, kClientWidthTwips) << c.id;
    EXPECT_LE(c.top + c.height, kClientHeightTwips) << c.id;
  }
}

}  // namespace
}  // namespace sealupdate
