#include "widgets/tray_icon.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "base/text.h"

namespace sealupdate {
namespace {

constexpr std::uint32_t kTaskbarCreated = 0xC123;
using W = std::uintptr_t;
const std::string kRemoved = "notify 2 7 0 7 1025 50 1 0 ||;unhook 7 100";

// Window 7 with icon 50, caption "caption" and previous procedure 100. Every call is logged as
// one entry after a ";"; a notified record with its fields.
class FakeTray : public TrayPlatform {
 public:
  std::string calls;
  std::optional<TrayRect> taskbar = TrayRect{10, 728, 1024, 768};
  std::optional<TrayPoint> cursor = TrayPoint{500, 300};
  std::function<void()> duringPopup;

  void Notify(TrayNotify action, const TrayIconRecord& r) override {
    Log("notify", int(action), r.hWnd, r.uID, r.uFlags, r.uCallbackMessage, r.hIcon, r.dwInfoFlags,
        r.uTimeout);
    calls += " " + Utf16ToUtf8(r.szTip + u"|" + r.szInfoTitle + u"|" + r.szInfo);
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
  std::optional<TrayRect> TaskbarRect() override { return taskbar; }
  std::optional<TrayPoint> CursorPos() override { return cursor; }
  void PopupMenu(W menu, W w) override {
    Log("popup", menu, w);
    if (duringPopup) duringPopup();
  }
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
      "hook 7;" +
          kRemoved + ";close 7");
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
      {0x0401, 0, 0x0204, 0, 0, "foreground 7;previous 100 7 1025"},
      {0x0401, 0, 0x0205, 0, 22, "popup 22 7;previous 100 7 1025"},
      {0x0401, 0, 0x0205, 21, 0, ""},  // right button up without a menu: swallowed
      {0x0401, 0, 0x0200, 21, 22, "previous 100 7 1025"},
      {0x0005, 1, 0, 0, 0, "show 7 0;previous 100 7 5"},  // minimized, mouse above the taskbar
      {0x0005, 0, 0, 0, 0, "previous 100 7 5"},           // restored or resized
      {0x0010, 0, 0, 0, 0, kRemoved + ";previous 100 7 16"},
      {0x0082, 0, 0, 0, 0, kRemoved + ";previous 100 7 130"},
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

// Minimized with the mouse off the taskbar (wherever it is docked) the window hides; through its
// taskbar button, or with no taskbar or mouse position known, it stays minimized.
TEST(TrayIcon, MinimizedWindowHidesOnlyWhenTheMouseIsOffTheTaskbar) {
  const TrayRect bar{10, 728, 1024, 768};
  const std::tuple<std::optional<TrayRect>, std::optional<TrayPoint>, bool> cases[] = {
      {bar, TrayPoint{10, 750}, false},   {bar, TrayPoint{9, 750}, true},
      {bar, TrayPoint{1023, 767}, false}, {bar, TrayPoint{1024, 750}, true},
      {bar, TrayPoint{500, 728}, false},  {bar, TrayPoint{500, 727}, true},
      {bar, TrayPoint{500, 768}, true},   {TrayRect{0, 0, 60, 768}, TrayPoint{30, 500}, false},
      {std::nullopt, TrayPoint{}, false}, {bar, std::nullopt, false},
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

// The menu's exit item runs inside the popup: the click is still passed to the saved procedure
// after the unhook; a later new taskbar adds nothing.
TEST(TrayIcon, ExitFromThePopupMenu) {
  FakeTray tray;
  TrayIcon icon(tray);
  icon.AddTrayIcon(7, u"", 0, 22);
  tray.duringPopup = [&] { icon.RemoveTrayIcon(true); };
  tray.calls.clear();
  EXPECT_EQ(icon.TrayWindowProc(7, 0x0401, 0, 0x0205), 99);
  icon.TrayWindowProc(7, kTaskbarCreated, 0, 0);
  EXPECT_EQ(tray.calls, "popup 22 7;" + kRemoved + ";close 7;previous 100 7 1025;previous 100 7 " +
                            std::to_string(kTaskbarCreated));
}

}  // namespace
}  // namespace sealupdate
