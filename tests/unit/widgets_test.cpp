#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <tuple>

#include "base/text.h"
#include "widgets/progress_bar.h"
#include "widgets/tray_icon.h"

namespace sealupdate {
namespace {

// The events and redraws as letters: c Change, n NowIsMin, x NowIsMax, r redraw.
void Record(ProgressBar& bar, std::string& log) {
  bar.events.Change = [&log] { log += 'c'; };
  bar.events.NowIsMin = [&log] { log += 'n'; };
  bar.events.NowIsMax = [&log] { log += 'x'; };
  bar.SetRefresh([&log] { log += 'r'; });
}

auto Settings(const ProgressBar& bar) {
  return std::tuple(bar.Max(), bar.Min(), bar.Value(), bar.ShowType(), bar.BorderH(), bar.BorderV(),
                    bar.Style());
}

TEST(ProgressBarModel, SettersKeepTheirRulesAndRaiseEventsInOrder) {
  ProgressBar bar;
  std::string log;
  Record(bar, log);
  bar.SetValue(150);
  bar.SetValue(100);  // unchanged, also when a clamp lands on the same value
  bar.SetValue(1000);
  bar.SetValue(-7);
  bar.SetMin(20);  // above Value: Value follows without events
  bar.SetValue(40);
  bar.SetValue(35);  // between the ends: Change alone
  bar.SetMax(30);    // below Value: likewise
  bar.SetMin(60);    // above Max, below Min, negative borders: ignored, still redrawn
  bar.SetMax(19);
  bar.SetBorderV(-1);
  bar.SetBorderH(-1);
  EXPECT_EQ(Settings(bar), std::tuple(30, 20, 30, 4, 5, 5, 0));
  bar.SetMin(30);  // an empty range counts as full and no setter can move the value
  EXPECT_EQ(bar.LabelText(), u"100.0%");
  bar.SetValue(0);
  bar.SetMin(29);  // a range of one is a range
  bar.SetValue(29);
  EXPECT_EQ(bar.LabelText(), u"00.0%");
  bar.SetMax(29);
  bar.SetBorderV(0);
  bar.SetBorderH(0);
  EXPECT_EQ(Settings(bar), std::tuple(29, 29, 29, 4, 0, 0, 0));
  EXPECT_EQ(log, "rcxrcnrrcrcrrrrrrrrcnrrr");
}

TEST(ProgressBarText, PercentFormatsRawValueAndLabel) {
  const std::tuple<std::int32_t, double, std::u16string> rows[] = {
      {1, 0.05, u"5%"},     {2, 0.05, u"05%"},      {3, 0.05, u"5.0%"},      {4, 0.05, u"05.0%"},
      {5, 0.05, u"5.00%"},  {6, 0.05, u"05.00%"},   {1, 1, u"100%"},         {6, 1, u"100.00%"},
      {5, 0, u"0.00%"},     {2, 0, u"00%"},         {1, 0.125, u"13%"},      {4, 0.125, u"12.5%"},
      {3, 0.0125, u"1.3%"}, {1, 0.995, u"100%"},    {5, 0.33333, u"33.33%"}, {1, 0.004, u"0%"},
      {1, 0.195, u"20%"},   {6, 0.0005, u"00.05%"}, {3, 0.9999, u"100.0%"},  {1, 0.005, u"1%"},
  };
  for (const auto& [type, fraction, text] : rows)
    EXPECT_EQ(FormatProgressText(type, fraction, 0), text) << type << " " << fraction;
  EXPECT_EQ(FormatProgressText(7, 1, -56), u"-56");
  for (std::int32_t other : {0, 8, -1}) EXPECT_FALSE(FormatProgressText(other, 0.5, 1));

  ProgressBar bar;
  EXPECT_EQ(bar.LabelText(), u"00.0%");
  bar.SetValue(5);
  bar.SetShowType(7);
  bar.SetShowType(0);
  EXPECT_FALSE(bar.LabelVisible());
  bar.SetShowType(8);  // shown again with the text of the last format 1..7
  bar.SetValue(6);
  EXPECT_EQ(std::pair(bar.LabelText(), bar.LabelVisible()), std::pair(std::u16string(u"5"), true));
}

TEST(PixelCopies, NearestNeighbourStretchAndClipping) {
  PixelBuffer src(2, 1), dst(5, 1, 0);
  src.Set(0, 0, 10);
  src.Set(1, 0, 20);
  StretchCopy(dst, 0, 0, 5, 1, src, 0, 0, 2, 1);
  EXPECT_EQ(dst.Pixels(), (std::vector<std::uint32_t>{10, 10, 20, 20, 20}));
  dst.Fill(0);
  StretchCopy(dst, -2, 0, 5, 1, src, 0, 0, 2, 1);  // left part clipped away
  EXPECT_EQ(dst.Pixels(), (std::vector<std::uint32_t>{20, 20, 20, 0, 0}));
  dst.Fill(0);
  for (const auto& [dW, dH, sW, sH] : {std::array{0, 1, 2, 1}, std::array{5, 0, 2, 1},
                                       std::array{5, 1, 0, 1}, std::array{5, 1, 2, 0}})
    StretchCopy(dst, 0, 0, dW, dH, src, 0, 0, sW, sH);  // draws nothing
  BlockCopy(dst, 4, 0, 1000000, 1000000, src, 1, 0);
  const int huge = std::numeric_limits<int>::max();
  BlockCopy(dst, huge, huge, huge, huge, src, -huge, 0);
  StretchCopy(dst, -huge, 0, huge, 1, src, 0, 0, huge, 1);
  EXPECT_EQ(dst.Pixels(), (std::vector<std::uint32_t>{0, 0, 0, 0, 20}));
  EXPECT_TRUE(PixelBuffer(-1, 5).Empty());
  EXPECT_EQ(PixelBuffer(0, 5), PixelBuffer(5, 0));
  // Source pixels outside the source are skipped, not taken from the next row or past the image.
  PixelBuffer square(2, 2), row(2, 2, 0);
  for (int i = 0; i < 4; ++i) square.Set(i % 2, i / 2, 30u + i);
  StretchCopy(row, 0, 0, 2, 2, square, 1, -1, 2, 2);
  EXPECT_EQ(row.Pixels(), (std::vector<std::uint32_t>{0, 0, 31, 0}));
  StretchCopy(row, 0, 0, 1, 2, square, 0, 1, 1, 2);
  EXPECT_EQ(row.Pixels(), (std::vector<std::uint32_t>{32, 0, 31, 0}));
}

// Binary PPM files under tests/unit/golden, rewritten instead of compared when
// SEALUPDATE_REGENERATE_GOLDENS=1.
void ExpectGolden(const std::string& name, const PixelBuffer& image) {
  std::string path = SEALUPDATE_GOLDEN_DIR "/" + name + ".ppm";
#ifdef _WIN32
  if (path[0] == '/') path = "Z:" + path;  // the source tree as Wine sees it
#endif
  std::string ppm =
      "P6\n" + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n255\n";
  for (std::uint32_t p : image.Pixels()) ppm += {char(p >> 16), char(p >> 8), char(p)};
  const char* regenerate = std::getenv("SEALUPDATE_REGENERATE_GOLDENS");
  if (regenerate && std::string(regenerate) == "1") std::ofstream(path, std::ios::binary) << ppm;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(ppm == std::string(std::istreambuf_iterator<char>(in), {})) << "differs: " << path;
}

// An 80 pixel wide bar, 20 high unless told.
PixelBuffer GoldenBar(std::int32_t style, std::int32_t value, double heightTwips = 300) {
  ProgressBar bar;
  bar.Resize(1200, heightTwips);
  bar.SetStyle(style);
  bar.SetValue(value);
  return bar.Image();
}

// One picture per way of drawing: each style's own parts and flush sides while filling, the
// whole fill (styles 1 to 7 draw full as they draw while filling), no fill, and a fill narrower
// than its two caps. Styles outside 0..9 always draw the whole fill.
TEST(ProgressBarGolden, EveryWayOfDrawing) {
  for (std::int32_t style = 0; style <= 9; ++style)
    ExpectGolden("style" + std::to_string(style) + "_filling", GoldenBar(style, 40));
  ExpectGolden("full", GoldenBar(0, 100));
  for (std::int32_t style : {8, 9, 10, -3}) EXPECT_EQ(GoldenBar(style, 100), GoldenBar(0, 100));
  ExpectGolden("whole_filling", GoldenBar(10, 40));
  EXPECT_EQ(GoldenBar(-3, 40), GoldenBar(10, 40));
  ExpectGolden("empty", GoldenBar(0, 0));
  ExpectGolden("cap_f4", GoldenBar(0, 5));  // F = 4 < 2 x BorderV: the rounded left cap
  // F = 10 = 2 x BorderV and 10 pixels = 2 x BorderH: the four corners and no middle.
  ExpectGolden("corners_f10_h10", GoldenBar(4, 12, 150));
}

constexpr std::uint32_t kTaskbarCreated = 0xC123;
using W = std::uintptr_t;

// Window 7 with icon 50, caption "caption" and previous procedure 100. Every call is logged as
// one entry after a ";"; a notified record with its fields.
class FakeTray : public TrayPlatform {
 public:
  std::string calls;

  void Notify(TrayNotify action, const TrayIconRecord& r) override {
    Log("notify", int(action), r.window, r.id, r.validFields, r.callbackMessage, r.icon,
        r.balloonIcon, r.balloonTimeoutMs);
    calls += " " + Utf16ToUtf8(r.tip + u"|" + r.balloonTitle + u"|" + r.balloonText);
  }
  W HookWindow(W w, TrayIcon&) override { return Log("hook", w), 100; }
  void UnhookWindow(W w, W p) override { Log("unhook", w, p); }
  std::intptr_t CallPrevious(W p, W w, std::uint32_t m, W, std::intptr_t) override {
    return Log("previous", p, w, m), 99;
  }
  void SetForegroundWindow(W w) override { Log("foreground", w); }
  void ShowWindow(W w, std::int32_t c) override { Log("show", w, c); }
  std::u16string WindowCaption(W) override { return u"caption"; }
  W WindowIcon(W) override { return 50; }
  std::optional<TrayRect> taskbar = TrayRect{10, 728, 1024, 768};
  std::optional<TrayPoint> cursor = TrayPoint{500, 300};  // above it
  std::optional<TrayRect> TaskbarRect() override { return taskbar; }
  std::optional<TrayPoint> CursorPos() override { return cursor; }
  void PopupMenu(W menu, W w) override { Log("popup", menu, w); }
  void PostClose(W w) override { Log("close", w); }
  std::uint32_t TaskbarCreatedMessage() override { return kTaskbarCreated; }

  template <typename... Args>
  void Log(std::string name, Args... args) {
    ((name += " " + std::to_string(args)), ...);
    calls += (calls.empty() ? "" : ";") + name;
  }
};

TEST(TrayIcon, TheRecordThroughItsLife) {
  FakeTray tray;
  TrayIcon icon(tray);
  // Without an icon only RestoreWindow acts.
  EXPECT_EQ(icon.ShowTrayBalloon(u"tip", u"title", u"text", 1, 0) + icon.SetTrayIcon(60), 0u);
  icon.RemoveTrayIcon(true);
  EXPECT_FALSE(icon.AddTrayIcon(0, u"tip", 0, 0));
  icon.RestoreWindow(7);
  ASSERT_TRUE(icon.AddTrayIcon(7, kToolTipPlaceholder, 0, 22));  // the caption as tooltip
  EXPECT_FALSE(icon.AddTrayIcon(8, u"other", 1, 2));
  EXPECT_EQ(icon.SetTrayIcon(60), 60u);
  EXPECT_EQ(icon.ShowTrayBalloon(kToolTipPlaceholder, u"自动更新", u"正在检查", 3, 5), 60u);
  icon.ShowTrayBalloon(u"new tip", u"t", u"x", 1, 0);
  icon.SetTrayIcon(61);                           // sends the balloon still held
  icon.TrayWindowProc(7, kTaskbarCreated, 0, 0);  // the shell forgot the icon
  icon.RemoveTrayIcon(false);
  EXPECT_FALSE(icon.Installed());
  ASSERT_TRUE(icon.AddTrayIcon(7, u"[ToolTipText] ", 0, 0));
  icon.RemoveTrayIcon(true);
  EXPECT_EQ(
      tray.calls,
      "foreground 7;show 7 4;notify 0 7 0 31 1025 50 1 0 caption||;hook 7;"
      "notify 1 7 0 31 1025 60 1 0 caption||;notify 1 7 0 31 1025 60 3 5 caption|自动更新|正在检查;"
      "notify 1 7 0 31 1025 60 1 0 new tip|t|x;notify 1 7 0 31 1025 61 1 0 new tip|t|x;"
      "notify 0 7 0 31 1025 61 1 0 new tip|t|x;previous 100 7 49443;"
      "notify 2 7 0 7 1025 50 1 0 |t|x;unhook 7 100;notify 0 7 0 31 1025 50 1 0 [ToolTipText] ||;"
      "hook 7;notify 2 7 0 7 1025 50 1 0 ||;unhook 7 100;close 7");
}

TEST(TrayIcon, TextsAreCutToTheirFieldsWithoutSplittingAPair) {
  for (const std::u16string pair : {u"\U00010000", u"\U0010FFFF"}) {
    EXPECT_EQ(CutToField(u"aa" + pair, 4), u"aa");  // the pair would straddle the last unit
    EXPECT_EQ(CutToField(u"a" + pair + u"b", 4), u"a" + pair);
  }
  const std::u16string fits = u"aa" + std::u16string(1, char16_t{0xD800});  // ends in half a pair
  EXPECT_EQ(CutToField(fits, 4) + CutToField(u"bbbc", 4) + CutToField(u"a", 0), fits + u"bbb");
}

TEST(TrayIcon, WindowProcActsThenPassesTheMessageOn) {
  // Message, wParam, lParam, left and right menus, the calls made.
  const std::tuple<std::uint32_t, W, std::intptr_t, W, W, std::string> cases[] = {
      {0x0401, 0, 0x0201, 0, 0, "foreground 7;previous 100 7 1025"},
      {0x0401, 0, 0x0202, 0, 0, "foreground 7;show 7 4;previous 100 7 1025"},
      {0x0401, 0, 0x0202, 21, 0, "popup 21 7;previous 100 7 1025"},
      {0x0401, 0, 0x0203, 21, 0, "foreground 7;show 7 4;previous 100 7 1025"},
      {0x0401, 0, 0x0205, 0, 22, "popup 22 7;previous 100 7 1025"},
      {0x0401, 0, 0x0205, 21, 0, ""},  // right button up without a menu: swallowed
      {0x0010, 0, 0, 0, 0, "notify 2 7 0 7 1025 50 1 0 ||;unhook 7 100;previous 100 7 16"},
      {0x0020, 0, 0, 0, 0, "previous 100 7 32"},  // anything else is only passed on
  };
  for (const auto& [message, wParam, lParam, left, right, calls] : cases) {
    FakeTray tray;
    TrayIcon icon(tray);
    icon.AddTrayIcon(7, u"", left, right);
    tray.calls.clear();
    EXPECT_EQ(icon.TrayWindowProc(7, message, wParam, lParam), calls.empty() ? 0 : 99);
    EXPECT_EQ(tray.calls, calls) << message << " " << lParam;
  }
}

// Minimized with the mouse off the taskbar, wherever it is docked, the window hides; through its
// taskbar button, or with no taskbar or mouse position known, it stays minimized.
TEST(TrayIcon, MinimizedWindowHidesOnlyWhenTheMouseIsOffTheTaskbar) {
  const TrayRect bar{10, 728, 1024, 768}, side{0, 0, 60, 768};
  const std::tuple<std::optional<TrayRect>, std::optional<TrayPoint>, bool> cases[] = {
      {bar, TrayPoint{10, 750}, false},   {bar, TrayPoint{9, 750}, true},
      {bar, TrayPoint{1023, 767}, false}, {bar, TrayPoint{1024, 750}, true},
      {bar, TrayPoint{500, 728}, false},  {bar, TrayPoint{500, 727}, true},
      {bar, TrayPoint{500, 768}, true},   {side, TrayPoint{30, 500}, false},
      {side, TrayPoint{60, 500}, true},   {std::nullopt, TrayPoint{}, false},
      {bar, std::nullopt, false},
  };
  for (const auto& [taskbar, cursor, hides] : cases) {
    FakeTray tray;
    TrayIcon icon(tray);
    std::tie(tray.taskbar, tray.cursor) = std::tie(taskbar, cursor);
    icon.TrayWindowProc(7, 0x0005, 1, 0);
    EXPECT_EQ(tray.calls.rfind("show 7 0", 0) == 0, hides)
        << (cursor ? cursor->x : -1) << "," << (cursor ? cursor->y : -1);
  }
}

}  // namespace
}  // namespace sealupdate
