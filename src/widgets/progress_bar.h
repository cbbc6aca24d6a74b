// The owner-drawn progress bar: properties with their setter rules, the events, the nine-grid
// redraw into a 32-bit image, the label text and the saved settings. The Win32 window class
// (progress_bar_win.cpp) owns one of these and shows its image.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "widgets/pixel_buffer.h"

namespace sealupdate {

// A picture object. Null means "no picture"; an empty buffer is a picture that draws nothing.
using Picture = std::shared_ptr<const PixelBuffer>;

// The built-in 14 x 14 pictures: index 0 the background, index 1 the fill.
Picture DefaultPicture(int index);

// SkipMask bits of DrawNineGrid: each leaves one part out. The four edge bits are also the flush
// sides.
enum NineGridPart : std::uint32_t {
  kSkipLeft = 0x001,
  kSkipRight = 0x002,
  kSkipTop = 0x004,
  kSkipBottom = 0x008,
  kSkipTopLeft = 0x010,
  kSkipTopRight = 0x020,
  kSkipBottomLeft = 0x040,
  kSkipBottomRight = 0x080,
  kSkipMiddle = 0x100,
};

// The groups of parts the fill styles leave out.
inline constexpr std::uint32_t kSkipNothing = 0;
inline constexpr std::uint32_t kSkipSideEdges = kSkipLeft | kSkipRight;
inline constexpr std::uint32_t kSkipTopAndBottomEdges = kSkipTop | kSkipBottom;
inline constexpr std::uint32_t kSkipEdges = kSkipSideEdges | kSkipTopAndBottomEdges;
inline constexpr std::uint32_t kSkipCorners =
    kSkipTopLeft | kSkipTopRight | kSkipBottomLeft | kSkipBottomRight;
inline constexpr std::uint32_t kSkipFrame = kSkipEdges | kSkipCorners;
inline constexpr std::uint32_t kSkipLeftColumn = kSkipLeft | kSkipTopLeft | kSkipBottomLeft;
inline constexpr std::uint32_t kSkipRightColumn = kSkipRight | kSkipTopRight | kSkipBottomRight;
inline constexpr std::uint32_t kSkipBottomRow = kSkipBottom | kSkipBottomLeft | kSkipBottomRight;

// Draws the source rectangle of `src` onto the destination rectangle of `dst` in nine parts:
// corners copied pixel for pixel, edges and middle stretched. Insets apply to source and
// destination; with `flush`, each edge side whose bit is in `skipMask` gets a destination inset
// of 0. Everything is clipped to `dst`.
void DrawNineGrid(PixelBuffer& dst, int dX, int dY, int dW, int dH, const PixelBuffer& src, int sX,
                  int sY, int sW, int sH, int l, int r, int t, int b, std::uint32_t skipMask,
                  bool flush);

struct FillOptions {
  std::uint32_t skipMask = 0;
  bool flush = false;
};
// The fill picture's options for `style`, while filling (F < W) or when full.
FillOptions FillOptionsFor(std::int32_t style, bool full);

// The label text for `showType` and `fraction`; nullopt for "leave the text as it was" (any type
// outside 1..7; type 0 hides the label but keeps its text).
std::optional<std::u16string> FormatProgressText(std::int32_t showType, double fraction,
                                                 std::int32_t value);

// A saved setting: a 32-bit number or a picture.
using SettingValue = std::variant<std::int32_t, Picture>;

// Where the control's settings are stored with its window.
class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  virtual void WriteProperty(std::u16string_view name, const SettingValue& value) = 0;
  // nullopt when the entry is missing.
  virtual std::optional<SettingValue> ReadProperty(std::u16string_view name) = 0;
};

class ProgressBar {
 public:
  // The bits of a mouse event's `button` (the one pressed or released, or those held during a
  // move) and of its `shift` (the modifier keys held).
  static constexpr std::int16_t kLeftButton = 1;
  static constexpr std::int16_t kRightButton = 2;
  static constexpr std::int16_t kMiddleButton = 4;
  static constexpr std::int16_t kShiftKey = 1;
  static constexpr std::int16_t kCtrlKey = 2;
  static constexpr std::int16_t kAltKey = 4;

  // Raised synchronously. The mouse arguments are passed by reference, as received; X and Y are
  // in twips from the control's top-left corner.
  using MouseHandler =
      std::function<void(std::int16_t& button, std::int16_t& shift, float& x, float& y)>;
  struct Events {
    std::function<void()> Change;
    std::function<void()> NowIsMin;
    std::function<void()> NowIsMax;
    std::function<void()> Click;
    std::function<void()> DblClick;
    MouseHandler MouseDown;
    MouseHandler MouseMove;
    MouseHandler MouseUp;
  };
  Events events;

  static constexpr double kDefaultWidthTwips = 3465;
  static constexpr double kDefaultHeightTwips = 405;
  static constexpr std::uint32_t kBackColor = 0xF0F0F0;

  ProgressBar();

  // Setters redraw and may throw std::overflow_error when the redraw overflows (a range or a
  // pixel size outside 32 bits); the fields keep what was already stored.
  std::int32_t Style() const { return style_; }
  void SetStyle(std::int32_t value);
  std::int32_t ShowType() const { return showType_; }
  void SetShowType(std::int32_t value);
  std::int32_t BorderV() const { return borderV_; }
  void SetBorderV(std::int32_t value);
  std::int32_t BorderH() const { return borderH_; }
  void SetBorderH(std::int32_t value);
  std::int32_t Min() const { return min_; }
  void SetMin(std::int32_t value);
  std::int32_t Max() const { return max_; }
  void SetMax(std::int32_t value);
  std::int32_t Value() const { return value_; }
  void SetValue(std::int32_t value);
  const Picture& PictureFront() const { return front_; }
  void SetPictureFront(Picture value);
  const Picture& PictureBack() const { return back_; }
  void SetPictureBack(Picture value);

  // The control's size in twips and the pixel density that converts it (96 dots per inch is
  // 15 twips per pixel). Both redraw.
  void Resize(double widthTwips, double heightTwips);
  void SetDpi(int dpi);
  double WidthTwips() const { return widthTwips_; }
  double HeightTwips() const { return heightTwips_; }
  int Dpi() const { return dpi_; }

  // Saved settings, in their write and read orders. Reading takes the numbers as stored, without
  // the setters' rules, and raises no event; like a setter it throws std::overflow_error when
  // the redraw overflows, with the numbers already loaded.
  void WriteProperties(PropertyBag& bag) const;
  void ReadProperties(PropertyBag& bag);

  // The off-screen image of the last redraw.
  const PixelBuffer& Image() const { return image_; }
  // The label: its text, whether it shows, and its font size in points.
  const std::u16string& LabelText() const { return labelText_; }
  bool LabelVisible() const { return labelVisible_; }
  float FontSize() const { return fontSize_; }
  // Top-left of a label of the given size centred over the control, in twips.
  std::pair<double, double> LabelPosition(double labelWidthTwips, double labelHeightTwips) const;

  // Called at the end of every redraw to refresh the screen from Image().
  void SetRefresh(std::function<void()> refresh) { refresh_ = std::move(refresh); }

  void Redraw();

 private:
  std::int32_t value_ = 0;
  std::int32_t max_ = 100;
  std::int32_t min_ = 0;
  std::int32_t borderH_ = 5;
  std::int32_t borderV_ = 5;
  std::int32_t showType_ = 4;
  std::int32_t style_ = 0;
  Picture back_;
  Picture front_;

  double widthTwips_ = kDefaultWidthTwips;
  double heightTwips_ = kDefaultHeightTwips;
  int dpi_ = 96;

  PixelBuffer image_;
  std::u16string labelText_ = u"25.1%";
  bool labelVisible_ = true;
  float fontSize_ = 0;
  std::function<void()> refresh_;
};

}  // namespace sealupdate
