// Geometry and captions of the main window that do not depend on the toolkit. Positions and
// sizes are in twips (1/1440 inch), relative to the client area.
#pragma once

#include <string>
#include <string_view>

namespace sealupdate {

inline constexpr char16_t kDesignedTitle[] = u"智能更新程序";

// Client area of the main window.
inline constexpr int kClientWidthTwips = 6255;
inline constexpr int kClientHeightTwips = 3930;
// Where the hidden mode parks the window: off every screen.
inline constexpr int kOffscreenTwips = -10000;
// The window font: 8.25 points.
inline constexpr int kFontSizeHundredthsPt = 825;

enum class ControlKind { TextBox, Label, ProgressBar, Button };

// Child-window identifiers: the array index is added to the base of an indexed control.
inline constexpr int kText1Id = 100;
inline constexpr int kLbl1BaseId = 200;
inline constexpr int kProgressBar1Id = 300;
inline constexpr int kCmd1BaseId = 400;
inline constexpr int kMnuFileShowFormId = 500;
inline constexpr int kMnuFileExitId = 501;

struct ControlLayout {
  ControlKind kind;
  int index;  // member of an indexed array (cmd1, Lbl1); 0 otherwise
  int id;
  const char16_t* caption;
  int left, top, width, height;
  int tabIndex;  // keyboard order; labels never take focus
};

// In tab order, which is also the order the window creates them in.
inline constexpr ControlLayout kControls[] = {
    {ControlKind::ProgressBar, 0, kProgressBar1Id, u"", 720, 3120, 5415, 255, 0},
    {ControlKind::TextBox, 0, kText1Id, u"", 120, 120, 6015, 2535, 1},
    {ControlKind::Button, 1, kCmd1BaseId + 1, u"访问主页", 5160, 3480, 990, 360, 2},
    {ControlKind::Button, 0, kCmd1BaseId + 0, u"检查更新", 3960, 3480, 990, 360, 3},
    {ControlKind::Label, 3, kLbl1BaseId + 3, u"剩余时间：00:00:00", 1920, 3600, 1560, 195, 4},
    {ControlKind::Label, 2, kLbl1BaseId + 2, u"速度：  0.00 KB/S", 120, 3600, 1335, 195, 5},
    {ControlKind::Label, 1, kLbl1BaseId + 1, u"进度：", 120, 3150, 540, 195, 6},
    {ControlKind::Label, 0, kLbl1BaseId + 0, u"未开始。", 120, 2760, 720, 195, 7},
};

inline constexpr char16_t kMnuFileCaption[] = u"文件(&F)";
inline constexpr char16_t kMnuFileShowFormCaption[] = u"显示(&S)";
inline constexpr char16_t kMnuFileExitCaption[] = u"退出(&E)";

// "智能更新程序", or SoftName + " - " + "智能更新程序" when a name is configured.
std::u16string MainWindowTitle(std::u16string_view softName);

// Twips to pixels at the given dots per inch, rounded to the nearest pixel (15 twips per pixel
// at 96 DPI).
int TwipsToPixels(int twips, int dpi);

// The font height in pixels for a size in hundredths of a point (negative: character height,
// as LOGFONT wants it).
int FontHeightPixels(int hundredthsPt, int dpi);

}  // namespace sealupdate
