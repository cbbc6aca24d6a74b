// The progress bar model and its nine-grid rasterizer, free of any window system.
#include "widgets/progress_bar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "base/text.h"

namespace sealupdate {
namespace {

// Geometry is computed in 64 bits (insets loaded from saved settings skip the setter checks)
// and saturated to the 32-bit range of the copies; saturated rectangles lie outside any image.
int Sat(std::int64_t v) {
  return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                   std::numeric_limits<std::int32_t>::max()));
}

std::int32_t CheckedInt32(std::int64_t v) {
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw std::overflow_error("Overflow");
  return static_cast<std::int32_t>(v);
}

constexpr double kTwipsPerInch = 1440;
constexpr float kTwipsPerPoint = 20;

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// `v` rounded to `decimals` places, halves away from zero, with at least `intDigits` integer
// digits. Rounds the 15 significant decimal digits of `v`, so 0.125 * 100 is a true half.
std::u16string FormatFixed(double v, int intDigits, int decimals) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.14e", std::fabs(v));
  const std::string text(buf);
  std::string digits = text.substr(0, 1) + text.substr(2, 14);
  const int exponent = std::stoi(text.substr(text.find('e') + 1));
  // digits[i] has the place value 10^(exponent - i); keep the places down to 10^-decimals.
  const int keep = exponent + 1 + decimals;
  std::string kept;
  if (keep >= static_cast<int>(digits.size())) {
    kept = digits + std::string(static_cast<std::size_t>(keep) - digits.size(), '0');
  } else if (keep >= 0) {
    kept = digits.substr(0, static_cast<std::size_t>(keep));
    if (digits[static_cast<std::size_t>(keep)] >= '5') {
      int i = keep - 1;
      for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i)
        kept[static_cast<std::size_t>(i)] = '0';
      if (i >= 0) {
        ++kept[static_cast<std::size_t>(i)];
      } else {
        kept.insert(kept.begin(), '1');
      }
    }
  }
  kept.erase(0, std::min(kept.find_first_not_of('0'), kept.size()));
  const bool zero = kept.empty();
  const std::size_t width = static_cast<std::size_t>(std::max(intDigits, 1) + decimals);
  if (kept.size() < width) kept.insert(0, width - kept.size(), '0');
  if (decimals > 0) kept.insert(kept.size() - static_cast<std::size_t>(decimals), 1, '.');
  return Ascii((v < 0 && !zero ? "-" : "") + kept);
}

}  // namespace

void DrawNineGrid(PixelBuffer& dst, int dX, int dY, int dW, int dH, const PixelBuffer& src, int sX,
                  int sY, int sW, int sH, int l, int r, int t, int b, std::uint32_t skipMask,
                  bool flush) {
  using I = std::int64_t;
  const I L = l, R = r, T = t, B = b;
  const I L2 = flush && (skipMask & kSkipLeft) ? 0 : L;
  const I R2 = flush && (skipMask & kSkipRight) ? 0 : R;
  const I T2 = flush && (skipMask & kSkipTop) ? 0 : T;
  const I B2 = flush && (skipMask & kSkipBottom) ? 0 : B;
  const bool wide = dW >= L2 + R2;
  const bool high = dH >= T2 + B2;
  const auto drawn = [skipMask](std::uint32_t bit) { return (skipMask & bit) == 0; };
  const auto stretch = [&](I x, I y, I w, I h, I sx, I sy, I sw, I sh) {
    StretchCopy(dst, Sat(x), Sat(y), Sat(w), Sat(h), src, Sat(sx), Sat(sy), Sat(sw), Sat(sh));
  };
  const auto block = [&](I x, I y, I w, I h, I sx, I sy) {
    BlockCopy(dst, Sat(x), Sat(y), Sat(w), Sat(h), src, Sat(sx), Sat(sy));
  };
  const I x = dX, y = dY, w = dW, h = dH;
  if (wide && high && drawn(kSkipMiddle))
    stretch(x + L2, y + T2, w - L2 - R2, h - T2 - B2, I{sX} + L, I{sY} + T, I{sW} - L - R,
            I{sH} - T - B);
  if (high && drawn(kSkipLeft))
    stretch(x, y + T2, L2, h - T2 - B2, sX, I{sY} + T, L, I{sH} - T - B);
  if (wide && high && drawn(kSkipRight))
    stretch(x + w - R2, y + T2, R2, h - T2 - B2, I{sX} + sW - R, I{sY} + T, R, I{sH} - T - B);
  if (wide && drawn(kSkipTop)) stretch(x + L2, y, w - L2 - R2, T2, I{sX} + L, sY, I{sW} - L - R, T);
  if (wide && high && drawn(kSkipBottom))
    stretch(x + L2, y + h - B2, w - L2 - R2, B2, I{sX} + L, I{sY} + sH - B, I{sW} - L - R, B);
  if (drawn(kSkipTopLeft)) block(x, y, L2, T, sX, sY);
  if (wide && drawn(kSkipTopRight)) block(x + w - R2, y, R, T, I{sX} + sW - R, sY);
  if (high && drawn(kSkipBottomLeft)) block(x, y + h - B, L, B, sX, I{sY} + sH - B);
  if (wide && high && drawn(kSkipBottomRight))
    block(x + w - R, y + h - B, R, B, I{sX} + sW - R, I{sY} + sH - B);
}

FillOptions FillOptionsFor(std::int32_t style, bool full) {
  switch (style) {
    case 0:  // a left cap; the right end cut open until the bar is full
      return {full ? kSkipNothing : kSkipRightColumn, false};
    case 1:  // the middle alone
      return {kSkipFrame, false};
    case 2:  // no top and bottom edges: the middle reaches the top and the bottom
      return {kSkipTopAndBottomEdges, true};
    case 3:  // the corners and the middle
      return {kSkipEdges, false};
    case 4:  // the frame without its middle
      return {kSkipMiddle, false};
    case 5:  // the four edges alone
      return {kSkipCorners | kSkipMiddle, false};
    case 6:  // the top-left part, its middle reaching the right and the bottom
      return {kSkipRightColumn | kSkipBottomRow, true};
    case 7:  // no side edges
      return {kSkipSideEdges, false};
    case 8:  // the right cap and the middle until the bar is full
      return {full ? kSkipNothing : kSkipLeftColumn | kSkipTopAndBottomEdges, false};
    case 9:  // no top and bottom edges until the bar is full
      return {full ? kSkipNothing : kSkipTopAndBottomEdges, false};
    default:
      return {kSkipNothing, false};
  }
}

std::optional<std::u16string> FormatProgressText(std::int32_t showType, double fraction,
                                                 std::int32_t value) {
  if (showType >= 1 && showType <= 6) {
    const int intDigits = showType % 2 == 1 ? 1 : 2;
    const int decimals = (showType - 1) / 2;
    return FormatFixed(fraction * 100, intDigits, decimals) + u"%";
  }
  if (showType == 7) return Ascii(std::to_string(value));
  return std::nullopt;
}

ProgressBar::ProgressBar() : back_(DefaultPicture(0)), front_(DefaultPicture(1)) { Redraw(); }

void ProgressBar::SetStyle(std::int32_t value) {
  style_ = value;
  Redraw();
}

void ProgressBar::SetShowType(std::int32_t value) {
  showType_ = value;
  Redraw();
}

void ProgressBar::SetBorderV(std::int32_t value) {
  if (value >= 0) borderV_ = value;
  Redraw();
}

void ProgressBar::SetBorderH(std::int32_t value) {
  if (value >= 0) borderH_ = value;
  Redraw();
}

void ProgressBar::SetMin(std::int32_t value) {
  if (value <= max_) {
    min_ = value;
    if (value_ < min_) value_ = min_;
  }
  Redraw();
}

void ProgressBar::SetMax(std::int32_t value) {
  if (value >= min_) {
    max_ = value;
    if (max_ < value_) value_ = max_;
  }
  Redraw();
}

void ProgressBar::SetValue(std::int32_t value) {
  const std::int32_t clamped = std::min(std::max(value, min_), max_);
  const std::int32_t old = value_;
  if (clamped == old) return;
  value_ = clamped;
  Redraw();
  if (events.Change) events.Change();
  if (value_ == min_ && old != min_ && events.NowIsMin) events.NowIsMin();
  if (value_ == max_ && old != max_ && events.NowIsMax) events.NowIsMax();
}

void ProgressBar::SetPictureFront(Picture value) {
  front_ = value ? std::move(value) : DefaultPicture(1);
  Redraw();
}

void ProgressBar::SetPictureBack(Picture value) {
  back_ = value ? std::move(value) : DefaultPicture(0);
  Redraw();
}

void ProgressBar::Resize(double widthTwips, double heightTwips) {
  widthTwips_ = widthTwips;
  heightTwips_ = heightTwips;
  Redraw();
}

void ProgressBar::SetDpi(int dpi) {
  dpi_ = dpi > 0 ? dpi : 96;
  Redraw();
}

void ProgressBar::WriteProperties(PropertyBag& bag) const {
  bag.WriteProperty(u"PictureBack", back_);
  bag.WriteProperty(u"PictureFront", front_);
  bag.WriteProperty(u"Max", max_);
  bag.WriteProperty(u"Min", min_);
  bag.WriteProperty(u"Value", value_);
  bag.WriteProperty(u"ShowType", showType_);
  bag.WriteProperty(u"BorderH", borderH_);
  bag.WriteProperty(u"BorderV", borderV_);
  bag.WriteProperty(u"Style", style_);
}

void ProgressBar::ReadProperties(PropertyBag& bag) {
  const auto picture = [&bag](std::u16string_view name) -> Picture {
    const std::optional<SettingValue> v = bag.ReadProperty(name);
    if (v && std::holds_alternative<Picture>(*v)) return std::get<Picture>(*v);
    return nullptr;
  };
  // An entry of the wrong kind counts as missing.
  const auto number = [&bag](std::u16string_view name, std::int32_t missing) {
    const std::optional<SettingValue> v = bag.ReadProperty(name);
    if (v && std::holds_alternative<std::int32_t>(*v)) return std::get<std::int32_t>(*v);
    return missing;
  };
  SetPictureBack(picture(u"PictureBack"));
  SetPictureFront(picture(u"PictureFront"));
  max_ = number(u"Max", 100);
  min_ = number(u"Min", 0);
  value_ = number(u"Value", 0);
  borderV_ = number(u"BorderV", 5);
  borderH_ = number(u"BorderH", 5);
  showType_ = number(u"ShowType", 3);
  style_ = number(u"Style", 2);
  Redraw();
}

std::pair<double, double> ProgressBar::LabelPosition(double labelWidthTwips,
                                                     double labelHeightTwips) const {
  return {(widthTwips_ - labelWidthTwips) / 2, (heightTwips_ - labelHeightTwips) / 2};
}

void ProgressBar::Redraw() {
  const FillOptions filling = FillOptionsFor(style_, false);
  const FillOptions full = FillOptionsFor(style_, true);
  const double twipsPerPixel = kTwipsPerInch / dpi_;
  const std::int32_t w = ToInt32RoundHalfEven(widthTwips_ / twipsPerPixel);
  const std::int32_t h = ToInt32RoundHalfEven(heightTwips_ / twipsPerPixel);
  const std::int32_t range = CheckedInt32(std::int64_t{max_} - min_);
  const std::int32_t offset = CheckedInt32(std::int64_t{value_} - min_);
  const double fraction = range >= 1 ? static_cast<double>(offset) / range : 1.0;
  const std::int32_t f = ToInt32RoundHalfEven(w * fraction);

  image_.Resize(w, h);
  image_.Fill(kBackColor);
  DrawNineGrid(image_, 0, 0, w, h, *back_, 0, 0, back_->Width(), back_->Height(), borderV_,
               borderV_, borderH_, borderH_, 0, false);
  if (f > 0) {
    const FillOptions& o = f < w ? filling : full;
    DrawNineGrid(image_, 0, 0, f, h, *front_, 0, 0, front_->Width(), front_->Height(), borderV_,
                 borderV_, borderH_, borderH_, o.skipMask, o.flush);
  }

  if (showType_ != 0) labelVisible_ = true;
  if (showType_ == 0) labelVisible_ = false;
  if (std::optional<std::u16string> text = FormatProgressText(showType_, fraction, value_))
    labelText_ = std::move(*text);
  fontSize_ = static_cast<float>(heightTwips_) / kTwipsPerPoint / 1.5f;  // two thirds of the height

  if (refresh_) refresh_();
}

}  // namespace sealupdate
