// Geometry and captions of the main window that do not depend on the toolkit. Positions and
// sizes are in twips (1/1440 inch), relative to the client area.
#pragma once

#include <string>
#include <string_view>

namespace sealupdate {

inline constexpr char16_t kDefaultTitle[] = u"智能更新程序";

// Client area of the main window.
inline constexpr int kClientWidthTwips = 6255;
inline constexpr int kClientHeightTwips = 3930;
// Where the hidden mode parks the window: off every screen.
inline constexpr int kOffscreenTwips = -10000;
// The window font: 8.25 points.
inline constexpr int kFontSizeHundredthsPt = 825;

enum class ControlKind { TextBox, Label, ProgressBar, Button };

// Child-window identifiers. The tests find the status label and the primary button by them.
inline constexpr int kNotesId = 100;
inline constexpr int kStatusLabelId = 200;
inline constexpr int kProgressLabelId = 201;
inline constexpr int kSpeedLabelId = 202;
inline constexpr int kRemainingLabelId = 203;
inline constexpr int kProgressBarId = 300;
inline constexpr int kPrimaryButtonId = 400;
inline constexpr int kHomePageButtonId = 401;
inline constexpr int kTrayMenuShowId = 500;
inline constexpr int kTrayMenuExitId = 501;

struct ControlLayout {
  ControlKind kind;
  int id;
  const char16_t* caption;
  int left, top, width, height;
};

// In keyboard (tab) order, which is also the order the window creates them in.
inline constexpr ControlLayout kControls[] = {
    {ControlKind::ProgressBar, kProgressBarId, u"", 720, 3120, 5415, 255},
    {ControlKind::TextBox, kNotesId, u"", 120, 120, 6015, 2535},
    {ControlKind::Button, kHomePageButtonId, u"访问主页", 5160, 3480, 990, 360},
    {ControlKind::Button, kPrimaryButtonId, u"检查更新", 3960, 3480, 990, 360},
    {ControlKind::Label, kRemainingLabelId, u"剩余时间：00:00:00", 1920, 3600, 1560, 195},
    {ControlKind::Label, kSpeedLabelId, u"速度：  0.00 KB/S", 120, 3600, 1335, 195},
    {ControlKind::Label, kProgressLabelId, u"进度：", 120, 3150, 540, 195},
    {ControlKind::Label, kStatusLabelId, u"未开始。", 120, 2760, 720, 195},
};

inline constexpr char16_t kTrayMenuCaption[] = u"文件(&F)";
inline constexpr char16_t kTrayMenuShowCaption[] = u"显示(&S)";
inline constexpr char16_t kTrayMenuExitCaption[] = u"退出(&E)";

// kDefaultTitle, or `softName` + " - " + kDefaultTitle when a name is configured.
std::u16string MainWindowTitle(std::u16string_view softName);

// Twips to pixels at the given dots per inch, rounded to the nearest pixel (15 twips per pixel
// at 96 DPI).
int TwipsToPixels(int twips, int dpi);

// The font height in pixels for a size in hundredths of a point (negative: character height,
// as LOGFONT wants it).
int FontHeightPixels(int hundredthsPt, int dpi);

}  // namespace sealupdate
