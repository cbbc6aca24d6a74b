#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "widgets/tray_icon.h"

namespace sealupdate {
namespace {

constexpr std::uintptr_t kWindow = 7;
constexpr std::uintptr_t kOldProc = 100;
constexpr std::uintptr_t kWindowIcon = 50;
constexpr std::uint32_t kTaskbarCreated = 0xC123;

// Records every call as one line; the notified records are kept in order.
class FakeTray : public TrayPlatform {
 public:
  std::vector<std::string> calls;
  std::vector<TrayIconRecord> sent;
  std::u16string caption = u"Soft - updater";
  std::optional<TrayRect> taskbar = TrayRect{0, 728, 1024, 768};
  std::optional<TrayPoint> cursor = TrayPoint{500, 300};
  std::function<void()> duringPopup;

  void Notify(TrayNotify action, const TrayIconRecord& record) override {
    Log("notify " + std::to_string(static_cast<int>(action)));
    sent.push_back(record);
  }
  std::uintptr_t HookWindow(std::uintptr_t w, TrayIcon&) override {
    return Log("hook", w), kOldProc;
  }
  void UnhookWindow(std::uintptr_t w, std::uintptr_t p) override { Log("unhook", w, p); }
  std::intptr_t CallPrevious(std::uintptr_t p, std::uintptr_t w, std::uint32_t m, std::uintptr_t,
                             std::intptr_t) override {
    return Log("previous", p, w, m), 99;
  }
  void SetForegroundWindow(std::uintptr_t w) override { Log("foreground", w); }
  void ShowWindow(std::uintptr_t w, std::int32_t c) override { Log("show", w, c); }
  std::u16string WindowCaption(std::uintptr_t) override { return caption; }
  std::uintptr_t WindowIcon(std::uintptr_t) override { return kWindowIcon; }
  std::optional<TrayRect> TaskbarRect() override { return taskbar; }
  std::optional<TrayPoint> CursorPos() override { return cursor; }
  void PopupMenu(std::uintptr_t menu, std::uintptr_t w) override {
    Log("popup", menu, w);
    if (duringPopup) duringPopup();
  }
  void PostClose(std::uintptr_t w) override { Log("close", w); }
  std::uint32_t TaskbarCreatedMessage() override { return kTaskbarCreated; }

 private:
  template <typename... Args>
  void Log(std::string name, Args... args) {
    ((name += " " + std::to_string(args)), ...);
    calls.push_back(name);
  }
};

using Calls = std::vector<std::string>;

TEST(TrayIcon, AddFillsTheRecordOnceAndHooksTheWindow) {
  FakeTray tray;
  TrayIcon icon(tray);
  EXPECT_FALSE(icon.AddTrayIcon(0, u"tip", 0, 0));
  ASSERT_TRUE(icon.AddTrayIcon(kWindow, kToolTipPlaceholder, 0, 22));
  EXPECT_EQ(tray.calls, (Calls{"notify 0", "hook 7"}));
  const TrayIconRecord& r = tray.sent.at(0);
  EXPECT_EQ(r.hWnd, kWindow);
  EXPECT_EQ(r.hIcon, kWindowIcon);
  EXPECT_EQ(r.szTip, u"Soft - updater");  // the placeholder stands for the caption
  EXPECT_EQ(r.uFlags, kTrayFlagsAdd);

  EXPECT_FALSE(icon.AddTrayIcon(8, u"other", 1, 2));
  EXPECT_EQ(tray.calls.size(), 2u);
  EXPECT_EQ(icon.TrayIconData().hWnd, kWindow);

  // A tooltip other than the placeholder is taken as it is.
  FakeTray tray2;
  TrayIcon icon2(tray2);
  icon2.AddTrayIcon(kWindow, u"[ToolTipText] ", 0, 0);
  EXPECT_EQ(icon2.TrayIconData().szTip, u"[ToolTipText] ");
}

TEST(TrayIcon, WithoutAnIconOnlyRestoreWindowActs) {
  FakeTray tray;
  TrayIcon icon(tray);
  EXPECT_EQ(icon.ShowTrayBalloon(u"tip", u"title", u"text", 1, 0), 0u);
  EXPECT_EQ(icon.SetTrayIcon(60), 0u);
  icon.RemoveTrayIcon(true);
  EXPECT_TRUE(tray.calls.empty());
  icon.RestoreWindow(kWindow);
  EXPECT_EQ(tray.calls, (Calls{"foreground 7", "show 7 4"}));
}

TEST(TrayIcon, BalloonIconAndRemoveChangeTheRecordInPlace) {
  FakeTray tray;
  TrayIcon icon(tray);
  icon.AddTrayIcon(kWindow, u"first tip", 0, 0);
  EXPECT_EQ(icon.SetTrayIcon(60), 60u);
  EXPECT_EQ(icon.ShowTrayBalloon(kToolTipPlaceholder, u"自动更新", u"正在检查", 3, 5), 60u);
  TrayIconRecord r = tray.sent.back();
  EXPECT_EQ(r.szTip, u"first tip");
  EXPECT_EQ(r.szInfoTitle, u"自动更新");
  EXPECT_EQ(r.szInfo, u"正在检查");
  EXPECT_EQ(r.dwInfoFlags, 3u);
  EXPECT_EQ(r.uTimeout, 5u);
  EXPECT_EQ(r.hIcon, 60u);
  icon.ShowTrayBalloon(u"new tip", u"t", u"x", 1, 0);
  EXPECT_EQ(tray.sent.back().szTip, u"new tip");
  // Changing the icon sends the balloon still held in the record.
  icon.SetTrayIcon(61);
  EXPECT_EQ(tray.sent.back().szInfo, u"x");

  tray.calls.clear();
  icon.RemoveTrayIcon(false);
  EXPECT_EQ(tray.calls, (Calls{"notify 2", "unhook 7 100"}));
  EXPECT_EQ(tray.sent.back().uFlags, kTrayFlagsDelete);
  EXPECT_EQ(tray.sent.back().hIcon, kWindowIcon);
  EXPECT_FALSE(icon.Installed());

  // Installed again, then removed from the menu's exit item.
  ASSERT_TRUE(icon.AddTrayIcon(kWindow, u"tip", 0, 0));
  tray.calls.clear();
  icon.RemoveTrayIcon(true);
  EXPECT_EQ(tray.calls, (Calls{"notify 2", "unhook 7 100", "close 7"}));
}

TEST(TrayIcon, TextsAreCutToTheirFieldsWithoutSplittingAPair) {
  const std::u16string a3(3, u'a');
  EXPECT_EQ(CutToField(a3, 4), a3);
  EXPECT_EQ(CutToField(a3 + u"b", 4), a3);
  for (const std::u16string pair : {u"\U00010000", u"\U0010FFFF"}) {
    EXPECT_EQ(CutToField(u"aa" + pair, 4), u"aa");  // the pair would straddle the last unit
    EXPECT_EQ(CutToField(u"a" + pair + u"b", 4), u"a" + pair);
  }
  EXPECT_EQ(CutToField(u"a", 0), u"");

  // Each text goes to its own field.
  FakeTray tray;
  tray.caption = std::u16string(300, u'c');
  TrayIcon icon(tray);
  icon.AddTrayIcon(kWindow, kToolTipPlaceholder, 0, 0);
  EXPECT_EQ(icon.TrayIconData().szTip.size(), kTrayTipUnits - 1);
  icon.ShowTrayBalloon(std::u16string(300, u'a'), std::u16string(300, u't'),
                       std::u16string(300, u'i'), 1, 0);
  EXPECT_EQ(icon.TrayIconData().szTip.size(), kTrayTipUnits - 1);
  EXPECT_EQ(icon.TrayIconData().szInfoTitle.size(), kTrayInfoTitleUnits - 1);
  EXPECT_EQ(icon.TrayIconData().szInfo.size(), kTrayInfoUnits - 1);
}

TEST(TrayIcon, WindowProcActsThenPassesTheMessageOn) {
  struct Case {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    std::uintptr_t leftMenu, rightMenu;
    Calls calls;  // before the message is passed on
  };
  const Case cases[] = {
      {0x0401, 0, 0x0201, 0, 0, {"foreground 7"}},
      {0x0401, 0, 0x0202, 0, 0, {"foreground 7", "show 7 4"}},
      {0x0401, 0, 0x0202, 21, 0, {"popup 21 7"}},
      {0x0401, 0, 0x0203, 21, 0, {"foreground 7", "show 7 4"}},
      {0x0401, 0, 0x0204, 0, 0, {"foreground 7"}},
      {0x0401, 0, 0x0205, 0, 22, {"popup 22 7"}},
      {0x0401, 0, 0x0200, 21, 22, {}},
      {0x0005, 1, 0, 0, 0, {"show 7 0"}},  // minimized, mouse above the taskbar
      {0x0005, 0, 0, 0, 0, {}},            // restored or resized
      {0x0010, 0, 0, 0, 0, {"notify 2", "unhook 7 100"}},
      {0x0082, 0, 0, 0, 0, {"notify 2", "unhook 7 100"}},
      {kTaskbarCreated, 0, 0, 0, 0, {"notify 0"}},
      {0x0111, 0, 0, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.message) + " " + std::to_string(c.lParam));
    FakeTray tray;
    TrayIcon icon(tray);
    icon.AddTrayIcon(kWindow, u"tip", c.leftMenu, c.rightMenu);
    tray.calls.clear();
    EXPECT_EQ(icon.TrayWindowProc(kWindow, c.message, c.wParam, c.lParam), 99);
    Calls expected = c.calls;
    expected.push_back("previous 100 7 " + std::to_string(c.message));
    EXPECT_EQ(tray.calls, expected);
  }
}

TEST(TrayIcon, WindowProcEdgeCases) {
  FakeTray tray;
  TrayIcon icon(tray);
  icon.AddTrayIcon(kWindow, u"tip", 0, 0);
  tray.calls.clear();
  // Right button up without a menu is swallowed.
  EXPECT_EQ(icon.TrayWindowProc(kWindow, 0x0401, 0, 0x0205), 0);
  EXPECT_TRUE(tray.calls.empty());

  // Minimized through the taskbar button, or with no taskbar or mouse: it stays minimized.
  tray.cursor = TrayPoint{500, 728};
  icon.TrayWindowProc(kWindow, 0x0005, 1, 0);
  tray.cursor.reset();
  icon.TrayWindowProc(kWindow, 0x0005, 1, 0);
  tray.cursor = TrayPoint{500, 300};
  tray.taskbar.reset();
  icon.TrayWindowProc(kWindow, 0x0005, 1, 0);
  EXPECT_EQ(tray.calls, Calls(3, "previous 100 7 5"));

  // A taskbar docked at the top or the side: the mouse off it hides the window, on it does not.
  const std::pair<TrayRect, TrayPoint> docked[] = {{{0, 0, 1024, 40}, {500, 20}},
                                                   {{0, 0, 60, 768}, {30, 500}},
                                                   {{964, 0, 1024, 768}, {1000, 10}}};
  for (const auto& [bar, onBar] : docked) {
    tray.taskbar = bar;
    tray.calls.clear();
    tray.cursor = onBar;
    icon.TrayWindowProc(kWindow, 0x0005, 1, 0);
    EXPECT_EQ(tray.calls, Calls(1, "previous 100 7 5"));
    tray.calls.clear();
    tray.cursor = TrayPoint{500, 400};
    icon.TrayWindowProc(kWindow, 0x0005, 1, 0);
    EXPECT_EQ(tray.calls.front(), "show 7 0");
  }
  tray.taskbar.reset();
  tray.calls.clear();

  // The taskbar came back: the icon is added again with the balloon it holds.
  icon.ShowTrayBalloon(kToolTipPlaceholder, u"title", u"text", 1, 0);
  icon.TrayWindowProc(kWindow, kTaskbarCreated, 0, 0);
  EXPECT_EQ(tray.sent.back().uFlags, 0x1Fu);
  EXPECT_EQ(tray.sent.back().szInfo, u"text");

  // The menu's exit item runs inside the popup: the click is still passed to the saved
  // procedure after the unhook; a later new taskbar adds nothing.
  FakeTray tray2;
  TrayIcon icon2(tray2);
  icon2.AddTrayIcon(kWindow, u"tip", 0, 22);
  tray2.duringPopup = [&] { icon2.RemoveTrayIcon(true); };
  tray2.calls.clear();
  EXPECT_EQ(icon2.TrayWindowProc(kWindow, 0x0401, 0, 0x0205), 99);
  icon2.TrayWindowProc(kWindow, kTaskbarCreated, 0, 0);
  EXPECT_EQ(tray2.calls,
            (Calls{"popup 22 7", "notify 2", "unhook 7 100", "close 7", "previous 100 7 1025",
                   "previous 100 7 " + std::to_string(kTaskbarCreated)}));
}

}  // namespace
}  // namespace sealupdate
