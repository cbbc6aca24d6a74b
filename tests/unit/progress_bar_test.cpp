#include "widgets/progress_bar.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace sealupdate {
namespace {

using Log = std::vector<std::string>;

void Record(ProgressBar& bar, Log& log) {
  bar.events.Change = [&log] { log.push_back("Change"); };
  bar.events.NowIsMin = [&log] { log.push_back("NowIsMin"); };
  bar.events.NowIsMax = [&log] { log.push_back("NowIsMax"); };
  bar.SetRefresh([&log] { log.push_back("redraw"); });
}

TEST(ProgressBarModel, ValueSetterClampsAndRaisesEventsInOrder) {
  ProgressBar bar;
  EXPECT_EQ(bar.LabelText(), u"00.0%");
  Log log;
  Record(bar, log);
  bar.SetValue(150);
  EXPECT_EQ(bar.Value(), 100);
  EXPECT_EQ(log, (Log{"redraw", "Change", "NowIsMax"}));
  log.clear();
  bar.SetValue(100);  // repeated value, and a clamp onto the same value
  bar.SetValue(1000);
  EXPECT_TRUE(log.empty());
  bar.SetValue(40);
  EXPECT_EQ(log, (Log{"redraw", "Change"}));
  log.clear();
  bar.SetValue(-7);
  EXPECT_EQ(bar.Value(), 0);
  EXPECT_EQ(log, (Log{"redraw", "Change", "NowIsMin"}));
}

TEST(ProgressBarModel, RangeSettersKeepValueInsideWithoutEvents) {
  ProgressBar bar;
  bar.SetValue(80);
  Log log;
  Record(bar, log);
  bar.SetMax(50);  // below Value: Value follows, no Change
  EXPECT_EQ(bar.Max(), 50);
  EXPECT_EQ(bar.Value(), 50);
  bar.SetMin(60);  // above Max: ignored, still redrawn
  EXPECT_EQ(bar.Min(), 0);
  bar.SetMax(-1);  // below Min: ignored
  EXPECT_EQ(bar.Max(), 50);
  bar.SetBorderV(-1);
  bar.SetBorderH(-1);
  EXPECT_EQ(bar.BorderV(), 5);
  EXPECT_EQ(bar.BorderH(), 5);
  EXPECT_EQ(log, Log(5, "redraw"));

  log.clear();
  bar.SetMin(50);  // Min = Max = Value: no setter call can change the value
  EXPECT_EQ(bar.Value(), 50);
  bar.SetValue(0);
  bar.SetValue(99);
  EXPECT_EQ(log, Log{"redraw"});
  EXPECT_EQ(bar.LabelText(), u"100.0%");  // an empty range counts as full
  bar.SetMin(49);                         // a range of one is a range
  bar.SetValue(49);
  EXPECT_EQ(bar.LabelText(), u"00.0%");

  bar.SetMax(49);  // Max = Min
  EXPECT_EQ(bar.Max(), 49);
  bar.SetBorderV(0);
  bar.SetBorderH(0);
  EXPECT_EQ(bar.BorderV() + bar.BorderH(), 0);
}

TEST(ProgressBarModel, OverflowInRedrawReachesTheCallerAfterStoring) {
  ProgressBar bar;
  const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
  EXPECT_THROW(bar.SetMin(lowest), std::overflow_error);  // Max - Min needs 33 bits
  EXPECT_EQ(bar.Min(), lowest);
  EXPECT_EQ(bar.Value(), 0);
  EXPECT_THROW(bar.Resize(1e12, 405), std::overflow_error);  // pixel width beyond 32 bits

  ProgressBar widest;  // a range of exactly 31 bits still fits
  EXPECT_NO_THROW(widest.SetMax(std::numeric_limits<std::int32_t>::max()));
}

TEST(ProgressBarModel, SizeFollowsTheDensity) {
  ProgressBar bar;  // 3465 x 405 twips
  EXPECT_EQ(bar.Image().Width(), 231);
  EXPECT_EQ(bar.Image().Height(), 27);
  bar.SetDpi(144);
  EXPECT_EQ(bar.Image().Width(), 346);  // 346.5 rounds to even
  EXPECT_EQ(bar.Image().Height(), 40);  // 40.5 likewise
  bar.SetDpi(0);                        // no density known: 96
  EXPECT_EQ(bar.Image().Width(), 231);
}

TEST(ProgressBarText, PercentFormatsAndRawValue) {
  struct Row {
    std::int32_t showType;
    double fraction;
    std::u16string text;
  };
  const Row rows[] = {
      {1, 0.05, u"5%"},       {2, 0.05, u"05%"},    {3, 0.05, u"5.0%"},     {4, 0.05, u"05.0%"},
      {5, 0.05, u"5.00%"},    {6, 0.05, u"05.00%"}, {1, 1, u"100%"},        {6, 1, u"100.00%"},
      {5, 0, u"0.00%"},       {2, 0, u"00%"},       {1, 0.125, u"13%"},  // halves away from 0
      {4, 0.125, u"12.5%"},   {3, 0.0125, u"1.3%"}, {1, 0.995, u"100%"},    {5, 0.33333, u"33.33%"},
      {6, 0.0005, u"00.05%"}, {1, 0.004, u"0%"},    {3, 0.9999, u"100.0%"}, {1, 0.005, u"1%"},
      {1, 0.195, u"20%"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FormatProgressText(row.showType, row.fraction, 0), row.text)
        << row.showType << " " << row.fraction;
  }
  EXPECT_EQ(FormatProgressText(7, 0.05, 1234), u"1234");
  EXPECT_EQ(FormatProgressText(7, 1, -56), u"-56");
  for (std::int32_t other : {0, 8, -1, 100}) EXPECT_FALSE(FormatProgressText(other, 0.5, 1));
}

TEST(ProgressBarText, LabelVisibilityKeepsLastTextAndFontFollowsHeight) {
  ProgressBar bar;
  bar.SetValue(5);
  bar.SetShowType(7);
  EXPECT_EQ(bar.LabelText(), u"5");
  bar.SetShowType(0);
  EXPECT_FALSE(bar.LabelVisible());
  for (std::int32_t keep : {8, -1}) {
    bar.SetShowType(keep);
    bar.SetValue(bar.Value() + 1);
    EXPECT_EQ(bar.LabelText(), u"5") << keep;  // the text of the last format 1..7
    EXPECT_TRUE(bar.LabelVisible());
  }
  bar.Resize(1000, 255);
  EXPECT_FLOAT_EQ(bar.FontSize(), 8.5f);
  const auto [left, top] = bar.LabelPosition(301, 100);
  EXPECT_DOUBLE_EQ(left, 349.5);
  EXPECT_DOUBLE_EQ(top, 77.5);
}

// A 14 x 14 picture whose nine parts (5-pixel insets) have the colours 1..9, row by row.
PixelBuffer PartsPicture() {
  PixelBuffer p(14, 14);
  for (int y = 0; y < 14; ++y) {
    for (int x = 0; x < 14; ++x) {
      const int col = x < 5 ? 0 : x < 9 ? 1 : 2;
      const int row = y < 5 ? 0 : y < 9 ? 1 : 2;
      p.Set(x, y, static_cast<std::uint32_t>(row * 3 + col + 1));
    }
  }
  return p;
}

// The part colour expected at destination (x, y) of a w x h rectangle with insets l, r, t, b.
std::uint32_t PartAt(int x, int y, int w, int h, int l, int r, int t, int b) {
  const int col = x < l ? 0 : x >= w - r ? 2 : 1;
  const int row = y < t ? 0 : y >= h - b ? 2 : 1;
  return static_cast<std::uint32_t>(row * 3 + col + 1);
}

constexpr std::uint32_t kUntouched = 0xABCDEF;

TEST(NineGrid, EachSkipBitLeavesExactlyItsPart) {
  const PixelBuffer src = PartsPicture();
  // Part colour of each mask bit (colours 1..9 are top-left .. bottom-right).
  const std::map<std::uint32_t, std::uint32_t> partOf = {
      {0, 0},           {kSkipLeft, 4},       {kSkipRight, 6},    {kSkipTop, 2},
      {kSkipBottom, 8}, {kSkipTopLeft, 1},    {kSkipTopRight, 3}, {kSkipBottomLeft, 7},
      {kSkipMiddle, 5}, {kSkipBottomRight, 9}};
  for (const auto& [mask, skipped] : partOf) {
    PixelBuffer dst(30, 20, kUntouched);
    DrawNineGrid(dst, 0, 0, 30, 20, src, 0, 0, 14, 14, 5, 5, 5, 5, mask, false);
    for (int y = 0; y < 20; ++y) {
      for (int x = 0; x < 30; ++x) {
        const std::uint32_t part = PartAt(x, y, 30, 20, 5, 5, 5, 5);
        ASSERT_EQ(dst.At(x, y), part == skipped ? kUntouched : part)
            << mask << " " << x << "," << y;
      }
    }
  }
}

TEST(NineGrid, FlushSidesAndNarrowRectangles) {
  const PixelBuffer src = PartsPicture();
  // Top and bottom flush: edges and middle reach both sides, the corners lie on top.
  PixelBuffer dst(30, 20, kUntouched);
  DrawNineGrid(dst, 0, 0, 30, 20, src, 0, 0, 14, 14, 5, 5, 5, 5, kSkipTop | kSkipBottom, true);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) {
      const std::uint32_t whole = PartAt(x, y, 30, 20, 5, 5, 5, 5);
      const bool corner = whole == 1 || whole == 3 || whole == 7 || whole == 9;
      ASSERT_EQ(dst.At(x, y), corner ? whole : PartAt(x, 10, 30, 20, 5, 5, 5, 5)) << x << "," << y;
    }
  }
  // Right and bottom flush with the other three corners skipped: only the top-left is rounded.
  dst.Fill(kUntouched);
  DrawNineGrid(dst, 0, 0, 30, 20, src, 0, 0, 14, 14, 5, 5, 5, 5, 0x0EA, true);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) ASSERT_EQ(dst.At(x, y), PartAt(x, y, 30, 20, 5, 0, 5, 0));
  }
  // Exactly as wide and high as the insets: four corners, nothing stretched.
  PixelBuffer corners(10, 10, kUntouched);
  DrawNineGrid(corners, 0, 0, 10, 10, src, 0, 0, 14, 14, 5, 5, 5, 5, 0, false);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) ASSERT_EQ(corners.At(x, y), PartAt(x, y, 10, 10, 5, 5, 5, 5));
  }
  // Narrower than both insets: only the left band and the left corners, at full inset width,
  // and clipped to the image.
  PixelBuffer narrow(3, 20, kUntouched);
  DrawNineGrid(narrow, 0, 0, 3, 20, src, 0, 0, 14, 14, 5, 5, 5, 5, 0, false);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 3; ++x) ASSERT_EQ(narrow.At(x, y), PartAt(0, y, 30, 20, 5, 5, 5, 5));
  }
}

TEST(PixelCopies, NearestNeighbourStretchAndClipping) {
  PixelBuffer src(2, 1);
  src.Set(0, 0, 10);
  src.Set(1, 0, 20);
  PixelBuffer dst(5, 1, 0);
  StretchCopy(dst, 0, 0, 5, 1, src, 0, 0, 2, 1);
  EXPECT_EQ(dst.Pixels(), (std::vector<std::uint32_t>{10, 10, 20, 20, 20}));
  dst.Fill(0);
  StretchCopy(dst, -2, 0, 5, 1, src, 0, 0, 2, 1);  // left part clipped away
  EXPECT_EQ(dst.Pixels(), (std::vector<std::uint32_t>{20, 20, 20, 0, 0}));
  dst.Fill(0);
  // Non-positive extents draw nothing.
  for (const auto& [dW, dH, sW, sH] : {std::array{0, 1, 2, 1}, std::array{5, 0, 2, 1},
                                       std::array{5, 1, 0, 1}, std::array{5, 1, 2, 0}}) {
    StretchCopy(dst, 0, 0, dW, dH, src, 0, 0, sW, sH);
  }
  BlockCopy(dst, 4, 0, 1000000, 1000000, src, 1, 0);
  EXPECT_EQ(dst.Pixels(), (std::vector<std::uint32_t>{0, 0, 0, 0, 20}));
  const int huge = std::numeric_limits<int>::max();
  BlockCopy(dst, huge, huge, huge, huge, src, -huge, 0);
  StretchCopy(dst, -huge, 0, huge, 1, src, 0, 0, huge, 1);
  EXPECT_EQ(dst.At(0, 0), 0u);
  EXPECT_TRUE(PixelBuffer(-1, 5).Empty());
  // Source pixels beyond the source's right edge are skipped, not taken from the next row.
  PixelBuffer square(2, 2);
  for (int i = 0; i < 4; ++i) square.Set(i % 2, i / 2, 30u + i);
  PixelBuffer row(2, 1, 0);
  StretchCopy(row, 0, 0, 2, 1, square, 1, 0, 2, 1);
  EXPECT_EQ(row.Pixels(), (std::vector<std::uint32_t>{31, 0}));
}

TEST(ProgressBarPictures, NoPictureRestoresDefaultAndEmptyPictureDrawsNothing) {
  ProgressBar bar;
  const PixelBuffer background = bar.Image();
  bar.SetPictureFront(std::make_shared<PixelBuffer>());
  bar.SetValue(100);
  EXPECT_EQ(bar.Image(), background);
  bar.SetPictureFront(nullptr);
  EXPECT_EQ(bar.PictureFront(), DefaultPicture(1));
  EXPECT_NE(bar.Image(), background);
}

class MapBag : public PropertyBag {
 public:
  std::map<std::u16string, SettingValue> stored;
  void WriteProperty(std::u16string_view name, const SettingValue& value) override {
    stored[std::u16string(name)] = value;
  }
  std::optional<SettingValue> ReadProperty(std::u16string_view name) override {
    const auto it = stored.find(std::u16string(name));
    return it == stored.end() ? std::nullopt : std::optional<SettingValue>(it->second);
  }
};

auto Settings(const ProgressBar& bar) {
  return std::tuple(bar.Max(), bar.Min(), bar.Value(), bar.ShowType(), bar.BorderH(), bar.BorderV(),
                    bar.Style());
}

// Saved settings load back as they were written, raising no events; entries that are missing
// or of the wrong kind load the defaults of a saved bar; loaded numbers skip the setter rules.
TEST(ProgressBarSettings, LoadWhatWasSavedOrTheDefaults) {
  ProgressBar saved;
  saved.SetPictureBack(std::make_shared<PixelBuffer>(2, 2));
  saved.SetMax(90);
  saved.SetMin(10);
  saved.SetValue(30);
  saved.SetShowType(7);
  saved.SetBorderH(2);
  saved.SetBorderV(3);
  saved.SetStyle(6);
  MapBag bag;
  saved.WriteProperties(bag);
  ProgressBar loaded;
  Log log;
  Record(loaded, log);
  loaded.ReadProperties(bag);
  EXPECT_EQ(log, Log(3, "redraw"));  // two picture setters and the closing redraw
  EXPECT_EQ(loaded.PictureBack(), saved.PictureBack());
  EXPECT_EQ(Settings(loaded), std::tuple(90, 10, 30, 7, 2, 3, 6));
  EXPECT_EQ(loaded.Image(), saved.Image());

  MapBag odd;
  odd.stored = {
      {u"Max", Picture()}, {u"PictureFront", 1}, {u"Min", 20}, {u"Value", 50}, {u"BorderV", -3}};
  loaded.ReadProperties(odd);
  EXPECT_EQ(loaded.PictureBack(), DefaultPicture(0));
  EXPECT_EQ(loaded.PictureFront(), DefaultPicture(1));
  EXPECT_EQ(Settings(loaded), std::tuple(100, 20, 50, 3, 5, -3, 2));
}

// Golden pictures: binary PPM files under tests/unit/golden, rewritten instead of compared when
// SEALUPDATE_REGENERATE_GOLDENS=1.
void ExpectGolden(const std::string& name, const PixelBuffer& image) {
  std::string path = SEALUPDATE_GOLDEN_DIR "/" + name + ".ppm";
#ifdef _WIN32
  if (path[0] == '/') path = "Z:" + path;  // the source tree as Wine sees it
#endif
  std::string ppm =
      "P6\n" + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n255\n";
  const std::size_t header = ppm.size();
  for (std::uint32_t p : image.Pixels()) ppm += {char(p >> 16), char(p >> 8), char(p)};
  const char* regenerate = std::getenv("SEALUPDATE_REGENERATE_GOLDENS");
  if (regenerate && std::string(regenerate) == "1") {
    std::ofstream(path, std::ios::binary) << ppm;
    return;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string golden{std::istreambuf_iterator<char>(in), {}};
  ASSERT_FALSE(golden.empty()) << "missing golden " << path;
  const auto differ = std::mismatch(ppm.begin(), ppm.end(), golden.begin(), golden.end()).first;
  const std::size_t pixel = (std::max<std::size_t>(differ - ppm.begin(), header) - header) / 3;
  EXPECT_TRUE(ppm == golden) << name << " differs first at pixel " << pixel % image.Width() << ","
                             << pixel / image.Width();
}

// An 80 x 20 pixel bar.
PixelBuffer GoldenBar(std::int32_t style, std::int32_t value) {
  ProgressBar bar;
  bar.Resize(1200, 300);
  bar.SetStyle(style);
  bar.SetValue(value);
  return bar.Image();
}

// One picture per way of drawing: each style's fill while filling (its own parts and flush
// sides), the whole fill (styles 0, 8, 9 and those outside 0..9 when full), no fill, and a fill
// narrower than its two caps. Styles 1 to 7 draw full as they draw while filling.
TEST(ProgressBarGolden, EveryWayOfDrawing) {
  for (std::int32_t style = 0; style <= 10; ++style)
    ExpectGolden("style" + std::to_string(style) + "_filling", GoldenBar(style, 40));
  ExpectGolden("full", GoldenBar(0, 100));
  for (std::int32_t style : {8, 9, 10, -3}) EXPECT_EQ(GoldenBar(style, 100), GoldenBar(0, 100));
  EXPECT_EQ(GoldenBar(-3, 40), GoldenBar(10, 40));
  ExpectGolden("empty", GoldenBar(0, 0));
  ExpectGolden("cap_f4", GoldenBar(0, 5));  // F = 4 < 2 x BorderV: the rounded left cap
}

}  // namespace
}  // namespace sealupdate
