// Geometry and captions of the main window that do not depend on the toolkit.
#pragma once

#include <string>
#include <string_view>

namespace sealupdate {

inline constexpr char16_t kDesignedTitle[] = u"智能更新程序";

// Client area of the main window, in twips (1/1440 inch).
inline constexpr int kClientWidthTwips = 6255;
inline constexpr int kClientHeightTwips = 3930;
// Where the hidden mode parks the window: off every screen.
inline constexpr int kOffscreenTwips = -10000;

// "智能更新程序", or SoftName + " - " + "智能更新程序" when a name is configured.
std::u16string MainWindowTitle(std::u16string_view softName);

// Twips to pixels at the given dots per inch, rounded to the nearest pixel (15 twips per pixel
// at 96 DPI).
int TwipsToPixels(int twips, int dpi);

}  // namespace sealupdate
