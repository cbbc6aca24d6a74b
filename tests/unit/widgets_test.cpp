// The progress bar's model, label, pictures and saved settings, the tray icon over a fake
// platform, and the layout's rounding (the real window's layout: Wine scenario e2e.window).
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <map>
#include <stdexcept>

#include "base/text.h"
#include "widgets/progress_bar.h"
#include "widgets/tray_icon.h"
#include "window/layout.h"

namespace sealupdate {
namespace {

using Log = std::vector<std::string>;

// The events and redraws as letters: c Change, n NowIsMin, x NowIsMax, r redraw.
void Record(ProgressBar& bar, std::string& log) {
  bar.events.Change = [&log] { log += 'c'; };
  bar.events.NowIsMin = [&log] { log += 'n'; };
  bar.events.NowIsMax = [&log] { log += 'x'; };
  bar.SetRefresh([&log] { log += 'r'; });
}

// Max, Min, Value, ShowType, BorderH, BorderV, Style.
auto Settings(const ProgressBar& bar) {
  return std::tuple(bar.Max(), bar.Min(), bar.Value(), bar.ShowType(), bar.BorderH(), bar.BorderV(),
                    bar.Style());
}

// Value is clamped; a change redraws, then raises Change and, at an end, NowIsMin or NowIsMax.
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
  bar.SetMax(29);  // Max may meet Min too
  bar.SetBorderV(0);
  bar.SetBorderH(0);
  EXPECT_EQ(Settings(bar), std::tuple(29, 29, 29, 4, 0, 0, 0));
  EXPECT_EQ(log, "rcxrcnrrcrcrrrrrrrrcnrrr");
}

// Twips to pixels at the bar's DPI (96 if unknown); the label centred, 2/3 of the height in pt.
TEST(ProgressBarModel, ImageSizeFollowsTwipsAndDensity) {
  ProgressBar bar;
  bar.Resize(1200, 300);
  EXPECT_EQ(std::pair(bar.Image().Width(), bar.Image().Height()), std::pair(80, 20));
  bar.SetDpi(144);
  EXPECT_EQ(std::pair(bar.Image().Width(), bar.Image().Height()), std::pair(120, 30));
  bar.SetDpi(0);
  EXPECT_EQ(std::pair(bar.Dpi(), bar.FontSize()), std::pair(96, 10.0f));
  EXPECT_EQ(bar.LabelPosition(200, 100), std::pair(500.0, 100.0));
  EXPECT_THROW(bar.Resize(1e12, 300), std::overflow_error);  // beyond 32 bits of pixels
  EXPECT_EQ(bar.Image().Width(), 80);                        // the image as it was
}

TEST(ProgressBarText, PercentFormatsRawValueAndLabel) {
  const std::tuple<std::int32_t, double, std::u16string> rows[] = {
      {1, 0.05, u"5%"},     {2, 0.05, u"05%"},      {3, 0.05, u"5.0%"},      {4, 0.05, u"05.0%"},
      {5, 0.05, u"5.00%"},  {6, 0.05, u"05.00%"},   {1, 1, u"100%"},         {6, 1, u"100.00%"},
      {5, 0, u"0.00%"},     {2, 0, u"00%"},         {1, 0.125, u"13%"},      {4, 0.125, u"12.5%"},
      {3, 0.0125, u"1.3%"}, {1, 0.995, u"100%"},    {5, 0.33333, u"33.33%"}, {1, 0.004, u"0%"},
      {1, 0.195, u"20%"},   {6, 0.0005, u"00.05%"}, {3, 0.9999, u"100.0%"},  {1, 0.005, u"1%"},
      {3, -0.5, u"-50.0%"}, {1, -0.004, u"0%"},
  };
  for (const auto& [type, fraction, text] : rows)
    EXPECT_EQ(FormatProgressText(type, fraction, 0), text) << type << " " << fraction;
  EXPECT_EQ(FormatProgressText(7, 1, -56), u"-56");
  for (std::int32_t other : {0, 8, -1}) EXPECT_FALSE(FormatProgressText(other, 0.5, 1));

  ProgressBar bar;
  EXPECT_EQ(bar.LabelText(), u"00.0%");
  bar.SetValue(5);
  bar.SetShowType(7);
  EXPECT_EQ(bar.LabelText(), u"5");
  bar.SetShowType(0);
  EXPECT_FALSE(bar.LabelVisible());
  bar.SetShowType(8);  // shown again with the text of the last format 1..7
  bar.SetValue(6);
  EXPECT_TRUE(bar.LabelVisible());
  EXPECT_EQ(bar.LabelText(), u"5");
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
  const int huge = INT32_MAX;
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

// Binary PPM under tests/unit/golden; SEALUPDATE_REGENERATE_GOLDENS=1 rewrites them instead.
void ExpectGolden(const std::string& name, const PixelBuffer& image) {
  std::string path = SEALUPDATE_GOLDEN_DIR "/" + name + ".ppm";
#ifdef _WIN32
  // A cross build's tests run under Wine, which maps the Linux root (the sources) to drive Z:.
  if (path[0] == '/') path = "Z:" + path;
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

// Styles 1 to 7 draw full as when filling (one full picture); styles outside 0..9 fill it whole.
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

// An 80 x 20 pixel bar loaded from these settings, with its events and redraws logged.
ProgressBar Loaded(std::map<std::u16string, SettingValue> stored, ProgressBar bar = {},
                   std::string* log = nullptr) {
  bar.Resize(1200, 300);
  if (log) Record(bar, *log);
  MapBag bag;
  bag.stored = std::move(stored);
  bar.ReadProperties(bag);
  return bar;
}

// Names and kinds as earlier versions saved them; loading raises no event; missing or mistyped
// entries load a saved bar's defaults, not a new bar's: 0 to 100, borders 5, ShowType 3, Style 2.
TEST(ProgressBarSettings, LoadBackAsSaved) {
  const Picture back = std::make_shared<const PixelBuffer>(2, 2, 0x123456);
  ProgressBar bar;
  bar.Resize(1200, 300);
  bar.SetPictureBack(back);
  bar.SetMax(90);
  bar.SetMin(10);
  bar.SetValue(30);
  bar.SetShowType(7);
  bar.SetBorderH(2);
  bar.SetBorderV(3);
  bar.SetStyle(6);
  MapBag saved;
  bar.WriteProperties(saved);
  const std::map<std::u16string, SettingValue> expected = {
      {u"Max", 90},     {u"Min", 10},           {u"Value", 30},
      {u"ShowType", 7}, {u"BorderH", 2},        {u"BorderV", 3},
      {u"Style", 6},    {u"PictureBack", back}, {u"PictureFront", DefaultPicture(1)}};
  EXPECT_EQ(saved.stored, expected);
  std::string log;
  const ProgressBar loaded = Loaded(saved.stored, {}, &log);
  EXPECT_EQ(Settings(loaded), Settings(bar));
  EXPECT_EQ(std::pair(loaded.PictureBack(), loaded.LabelText()),
            std::pair(back, std::u16string(u"30")));
  EXPECT_EQ(loaded.Image(), bar.Image());
  EXPECT_EQ(log.find_first_not_of('r'), std::string::npos);
  MapBag fresh;
  ProgressBar().WriteProperties(fresh);
  EXPECT_EQ(Settings(Loaded(fresh.stored)), Settings(ProgressBar()));

  ProgressBar reused;
  reused.SetPictureFront(std::make_shared<const PixelBuffer>(1, 1));
  reused.SetPictureBack(back);
  reused.SetValue(70);
  EXPECT_EQ(Settings(Loaded({}, reused)), std::tuple(100, 0, 0, 3, 5, 5, 2));
  const std::map<std::u16string, SettingValue> mistyped = {
      {u"Max", Picture()}, {u"PictureFront", 1}, {u"PictureBack", 2},
      {u"Min", 20},        {u"Value", 50},       {u"Style", Picture()}};
  const ProgressBar cured = Loaded(mistyped, reused);
  EXPECT_EQ(Settings(cured), std::tuple(100, 20, 50, 3, 5, 5, 2));
  EXPECT_EQ(std::tuple(cured.PictureBack(), cured.PictureFront(), cured.LabelText()),
            std::tuple(DefaultPicture(0), DefaultPicture(1), std::u16string(u"37.5%")));
  // Loaded numbers skip the setters' rules: extreme borders draw without harm; the widest ranges
  // that fit (empty: Max - Min = INT32_MIN, or INT32_MAX) are full.
  for (const std::int32_t border : {-3, INT32_MIN, INT32_MAX}) {
    const ProgressBar bar = Loaded({{u"BorderH", border}, {u"BorderV", border}, {u"Value", 40}});
    EXPECT_EQ(std::pair(bar.BorderH(), bar.Image().Width()), std::pair(border, 80));
  }
  EXPECT_EQ(Loaded({{u"Max", -1}, {u"Min", INT32_MAX}}).LabelText() +
                Loaded({{u"Max", INT32_MAX}, {u"Min", 0}, {u"Value", INT32_MAX}}).LabelText(),
            u"100.0%100.0%");
  MapBag wide;  // wider than 32 bits: overflows as a setter's would
  wide.stored = {{u"Max", INT32_MAX}, {u"Min", INT32_MIN}};
  EXPECT_THROW(ProgressBar().ReadProperties(wide), std::overflow_error);
}

constexpr std::uint32_t kTaskbarCreated = 0xC123;
constexpr std::uintptr_t kWindow = 7, kWindowIcon = 50, kPreviousProc = 100;
constexpr std::intptr_t kPreviousResult = 99;
using W = std::uintptr_t;

// kWindow has icon kWindowIcon and caption "caption", hooked over kPreviousProc. A record logs
// as action, window, id, fields, message, icon, balloon icon, timeout, state, mask, tip|title|text.
class FakeTray : public TrayPlatform {
 public:
  Log calls;
  std::optional<TrayRect> taskbar = TrayRect{10, 728, 1024, 768};
  std::optional<TrayPoint> cursor = TrayPoint{500, 300};  // above it

  void Notify(TrayNotify action, const TrayIconRecord& r) override {
    const char* names[] = {"add", "modify", "delete"};
    Add(names[static_cast<int>(action)], r.window, r.id, r.validFields, r.callbackMessage, r.icon,
        r.balloonIcon, r.balloonTimeoutMs, r.state, r.stateMask);
    calls.back() += " " + Utf16ToUtf8(r.tip + u"|" + r.balloonTitle + u"|" + r.balloonText);
  }
  W HookWindow(W w, TrayIcon&) override { return Add("hook", w), kPreviousProc; }
  void UnhookWindow(W w, W p) override { Add("unhook", w, p); }
  std::intptr_t CallPrevious(W p, W w, std::uint32_t m, W, std::intptr_t) override {
    return Add("previous", p, w, m), kPreviousResult;
  }
  void SetForegroundWindow(W w) override { Add("foreground", w); }
  void ShowWindow(W w, std::int32_t c) override {
    Add(c == kTrayHide ? "hide" : c == kTrayShowNoActivate ? "show" : "show-command", w);
  }
  std::u16string WindowCaption(W) override { return u"caption"; }
  W WindowIcon(W) override { return kWindowIcon; }
  std::optional<TrayRect> TaskbarRect() override { return taskbar; }
  std::optional<TrayPoint> CursorPos() override { return cursor; }
  void PopupMenu(W menu, W w) override { Add("popup", menu, w); }
  void PostClose(W w) override { Add("close", w); }
  std::uint32_t TaskbarCreatedMessage() override { return kTaskbarCreated; }

  template <typename... Args>
  void Add(std::string name, Args... args) {
    ((name += " " + std::to_string(args)), ...);
    calls.push_back(name);
  }
};

std::string Previous(std::uint32_t message) {
  return "previous " + std::to_string(kPreviousProc) + " 7 " + std::to_string(message);
}

// Each step of the icon's life sends the record as it stands then.
TEST(TrayIcon, TheRecordThroughItsLife) {
  FakeTray tray;
  TrayIcon icon(tray);
  // Without an icon only RestoreWindow acts.
  EXPECT_EQ(icon.ShowTrayBalloon(u"tip", u"title", u"text", 1, 0) + icon.SetTrayIcon(60), 0u);
  icon.RemoveTrayIcon(true);
  EXPECT_FALSE(icon.AddTrayIcon(0, u"tip", 0, 0));
  icon.RestoreWindow(kWindow);
  ASSERT_TRUE(icon.AddTrayIcon(kWindow, kToolTipPlaceholder, 0, 22));  // the caption as tooltip
  EXPECT_FALSE(icon.AddTrayIcon(8, u"other", 1, 2));
  EXPECT_EQ(icon.SetTrayIcon(60), 60u);
  const std::u16string title(100, u'题');  // cut to its field; the placeholder keeps the tooltip
  EXPECT_EQ(icon.ShowTrayBalloon(kToolTipPlaceholder, title, u"正在检查", kTrayBalloonError, 5),
            60u);
  icon.ShowTrayBalloon(u"new tip", u"t", u"x", kTrayBalloonInfo, 0);
  icon.SetTrayIcon(61);  // sends the balloon still held
  EXPECT_EQ(icon.TrayWindowProc(kWindow, kTaskbarCreated, 0, 0), kPreviousResult);  // re-added
  icon.RemoveTrayIcon(false);  // names the window's own icon and no tooltip
  EXPECT_FALSE(icon.Installed());
  ASSERT_TRUE(icon.AddTrayIcon(kWindow, u"[ToolTipText] ", 0, 0));  // no placeholder
  icon.RemoveTrayIcon(true);
  const std::string cut = Utf16ToUtf8(title.substr(0, kTrayBalloonTitleUnits - 1));
  EXPECT_EQ(tray.calls, (Log{"foreground 7", "show 7", "add 7 0 31 1025 50 1 0 0 0 caption||",
                             "hook 7", "modify 7 0 31 1025 60 1 0 0 0 caption||",
                             "modify 7 0 31 1025 60 3 5 0 0 caption|" + cut + "|正在检查",
                             "modify 7 0 31 1025 60 1 0 0 0 new tip|t|x",
                             "modify 7 0 31 1025 61 1 0 0 0 new tip|t|x",
                             "add 7 0 31 1025 61 1 0 0 0 new tip|t|x", Previous(kTaskbarCreated),
                             "delete 7 0 7 1025 50 1 0 0 0 |t|x", "unhook 7 100",
                             "add 7 0 31 1025 50 1 0 0 0 [ToolTipText] ||", "hook 7",
                             "delete 7 0 7 1025 50 1 0 0 0 ||", "unhook 7 100", "close 7"}));
}

TEST(TrayIcon, TextsAreCutToTheirFieldsWithoutSplittingAPair) {
  for (const std::u16string pair : {u"\U00010000", u"\U0010FFFF"}) {
    EXPECT_EQ(CutToField(u"aa" + pair, 4), u"aa");  // the pair would straddle the last unit
    EXPECT_EQ(CutToField(u"a" + pair + u"b", 4), u"a" + pair);
  }
  const std::u16string fits = u"aa" + std::u16string(1, char16_t{0xD800});  // ends in half a pair
  EXPECT_EQ(CutToField(fits, 4), fits);
  EXPECT_EQ(CutToField(u"bbbc", 4), u"bbb");
  EXPECT_EQ(CutToField(u"a", 0), u"");
}

// Clicks at the icon restore the window or pop a menu up; closing removes the icon.
TEST(TrayIcon, WindowProcActsThenPassesTheMessageOn) {
  const std::string foreground = "foreground 7", show = "show 7";
  const std::string removed = "delete 7 0 7 1025 50 1 0 0 0 ||", unhooked = "unhook 7 100";
  const std::string passed = Previous(kTrayCallbackMessage);
  // Message, lParam, left and right menus, the calls made.
  const std::tuple<std::uint32_t, std::intptr_t, W, W, Log> cases[] = {
      {kTrayCallbackMessage, kIconLeftDown, 0, 0, {foreground, passed}},
      {kTrayCallbackMessage, kIconRightDown, 21, 22, {foreground, passed}},
      {kTrayCallbackMessage, kIconLeftUp, 0, 0, {foreground, show, passed}},
      {kTrayCallbackMessage, kIconLeftUp, 21, 0, {"popup 21 7", passed}},
      {kTrayCallbackMessage, kIconLeftDoubleClick, 21, 0, {foreground, show, passed}},
      {kTrayCallbackMessage, kIconRightUp, 0, 22, {"popup 22 7", passed}},
      {kTrayCallbackMessage, kIconRightUp, 21, 0, {}},  // swallowed
      {kWmClose, 0, 0, 0, {removed, unhooked, Previous(kWmClose)}},
      {kWmNcDestroy, 0, 0, 0, {removed, unhooked, Previous(kWmNcDestroy)}},
      {0x0020, 0, 0, 0, {Previous(0x0020)}},  // anything else is only passed on
  };
  for (const auto& [message, lParam, left, right, calls] : cases) {
    FakeTray tray;
    TrayIcon icon(tray);
    icon.AddTrayIcon(kWindow, u"", left, right);
    tray.calls.clear();
    EXPECT_EQ(icon.TrayWindowProc(kWindow, message, 0, lParam),
              calls.empty() ? 0 : kPreviousResult);
    EXPECT_EQ(tray.calls, calls) << message << " " << lParam;
  }
}

// Minimized with the mouse off the taskbar, wherever docked, the window hides; through its button,
// or with no taskbar or mouse position known, it stays minimized. Other sizes leave it alone.
TEST(TrayIcon, MinimizedWindowHidesOnlyWhenTheMouseIsOffTheTaskbar) {
  const TrayRect bar{10, 728, 1024, 768}, side{0, 0, 60, 768};
  const W minimized = kSizeMinimized, maximized = kSizeMinimized + 1;
  const std::tuple<std::optional<TrayRect>, std::optional<TrayPoint>, W, bool> cases[] = {
      {bar, TrayPoint{10, 750}, minimized, false},   {bar, TrayPoint{9, 750}, minimized, true},
      {bar, TrayPoint{1023, 767}, minimized, false}, {bar, TrayPoint{1024, 750}, minimized, true},
      {bar, TrayPoint{500, 728}, minimized, false},  {bar, TrayPoint{500, 727}, minimized, true},
      {bar, TrayPoint{500, 768}, minimized, true},   {side, TrayPoint{30, 500}, minimized, false},
      {side, TrayPoint{60, 500}, minimized, true},   {std::nullopt, TrayPoint{}, minimized, false},
      {bar, std::nullopt, minimized, false},         {bar, TrayPoint{9, 750}, maximized, false},
  };
  for (const auto& [taskbar, cursor, size, hides] : cases) {
    FakeTray tray;
    TrayIcon icon(tray);
    std::tie(tray.taskbar, tray.cursor) = std::tie(taskbar, cursor);
    icon.AddTrayIcon(kWindow, u"", 0, 0);
    tray.calls.clear();
    icon.TrayWindowProc(kWindow, kWmSize, size, 0);
    EXPECT_EQ(tray.calls, (hides ? Log{"hide 7", Previous(kWmSize)} : Log{Previous(kWmSize)}))
        << (cursor ? cursor->x : -1) << "," << (cursor ? cursor->y : -1) << " size " << size;
  }
}

// 15 twips a pixel at 96 DPI, halves away from zero; a font height is negative, as LOGFONT wants.
TEST(Layout, TwipsToPixelsRoundHalvesAwayFromZero) {
  EXPECT_EQ(TwipsToPixels(7, 96) + TwipsToPixels(8, 96), 1);
  EXPECT_EQ(TwipsToPixels(kOffscreenTwips, 96), -667);
  EXPECT_EQ(FontHeightPixels(kFontSizeHundredthsPt, 144), -17);
}

}  // namespace
}  // namespace sealupdate
