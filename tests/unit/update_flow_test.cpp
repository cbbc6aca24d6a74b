#include "window/update_flow.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "base/text.h"
#include "fake_process_table.h"
#include "model/version_info.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

// Reads complete only when the test says so.
class ScriptedReader : public UrlReader {
 public:
  struct Read {
    std::u16string url, key, savePath;
  };
  std::vector<Read> started;
  UrlReaderSink* sink = nullptr;

  void SetSink(UrlReaderSink* s) override { sink = s; }
  TransferError Start(const std::u16string& url, const std::u16string& key,
                      const std::u16string& savePath) override {
    started.push_back({url, key, savePath});
    return {};
  }
  bool Cancel(const std::u16string&) override { return true; }

  void Finish(const std::u16string& key, TransferError error, std::string body = {}) {
    ReadResult result;
    result.error = error;
    result.body = std::move(body);
    sink->OnReadComplete(key, std::move(result));
  }
  // A whole program image by default, as a package that arrived intact.
  void FinishFile(const std::u16string& key, TransferError moveError = {},
                  std::string body = ReadWholeFile(ImageFixture()).value_or("")) {
    struct File : DownloadedFile {
      TransferError moveError;
      std::string body;
      File(TransferError e, std::string b) : moveError(e), body(std::move(b)) {}
      std::uint64_t Size() const override { return body.size(); }
      bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        return MemoryByteView(body).ReadAt(offset, buffer, length);
      }
      TransferError MoveTo(const std::u16string&) override { return moveError; }
    };
    ReadResult result;
    result.file = std::make_unique<File>(moveError, std::move(body));
    sink->OnReadComplete(key, std::move(result));
  }
  static std::u16string ImageFixture() {
    return FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\en_app.exe";
  }
};

struct FixedClock : Clock {
  std::int64_t NowSeconds() override { return 1000; }
};
struct NoPump : EventPump {
  void ProcessPendingEvents() override {}
};

// Records what the window shows; answers message boxes from a script.
class RecordingView : public UpdateView {
 public:
  std::u16string title = u"智能更新程序";
  Stage stage = Stage::Idle;
  std::u16string status = u"未开始。", speed = kIdleSpeed, remaining = kIdleRemaining, notes;
  std::int32_t progressMax = 100, progressValue = 0;
  std::vector<std::string> log;  // notable calls, in order
  std::deque<MessageAnswer> answers;
  ShellResult shellResult;
  bool closed = false;

  void SetTitle(const std::u16string& t) override { title = t; }
  void ShowStage(Stage s) override { stage = s; }
  void SetStatus(const std::u16string& t) override { status = t; }
  void SetSpeed(const std::u16string& t) override { speed = t; }
  void SetRemaining(const std::u16string& t) override { remaining = t; }
  void SetNotes(const std::u16string& t) override { notes = t; }
  void SetProgress(std::int32_t value, std::int32_t max) override {
    progressValue = value;
    progressMax = max;
  }
  void PlaceCentered() override { log.push_back("centre"); }
  void PlaceOffscreen() override { log.push_back("offscreen"); }
  void UseOwnIcon() override { log.push_back("icon"); }
  void AddTrayIcon() override { log.push_back("tray"); }
  void ShowTrayBalloon(const std::u16string& t, const std::u16string& text,
                       TrayIconKind icon) override {
    log.push_back("balloon " + Utf16ToUtf8(t) + "|" + Utf16ToUtf8(text) + "|" +
                  std::to_string(static_cast<int>(icon)));
  }
  void RemoveTrayIcon(bool close) override { log.push_back(close ? "untray close" : "untray"); }
  void RestoreWindow() override { log.push_back("restore"); }
  MessageAnswer ShowMessage(const std::u16string& text, const std::u16string& t,
                            MessageButtons buttons, MessageIcon icon) override {
    log.push_back("msgbox " + Utf16ToUtf8(text) + "|" + Utf16ToUtf8(t) + "|" +
                  std::to_string(static_cast<int>(icon)));
    if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    EXPECT_FALSE(answers.empty()) << "unexpected question";
    if (answers.empty()) return MessageAnswer::No;
    const MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  ShellResult ShellOpen(const std::u16string& target, int show) override {
    log.push_back("shell " + Utf16ToUtf8(target) + "|" + std::to_string(show));
    return shellResult;
  }
  void Close() override {
    log.push_back("close");
    closed = true;
  }
  bool Logged(const std::string& entry) const {
    return std::find(log.begin(), log.end(), entry) != log.end();
  }
};

const std::u16string kStatusChecking = u"正在检查新版本...";

class Flow : public ::testing::Test {
 protected:
  std::u16string folder = ScratchFolder();
  FakeProcessTable processes;
  UpdateRecord info{folder, processes};
  ScriptedReader reader;
  FixedClock clock;
  NoPump pump;
  Downloader downloader{reader, clock, pump, folder};
  RecordingView view;
  std::map<std::u16string, std::u16string> versions;  // file path -> file version
  std::unique_ptr<UpdateFlow> flow;

  void Start(std::int32_t mode, std::vector<std::u16string> updateUrls = {u"a.test/u.ini"}) {
    info.SetSoftName(u"示例");
    info.SetUpdateText(u"configured");
    info.SetUpdateMode(mode);
    for (const auto& u : updateUrls) info.AddUpdateURL(u);
    flow =
        std::make_unique<UpdateFlow>(view, info, downloader, mode, [this](const std::u16string& p) {
          auto it = versions.find(p);
          return it == versions.end() ? std::u16string() : it->second;
        });
    downloader.SetEvents(flow.get());
    flow->Start();
  }
  static std::string Document(const char* version, const char* extra = "") {
    return std::string("[UpdateInfo]\r\nVersion=") + version +
           "\r\nDownloadURL=http://d.test/one/setup.bin|http://d.test/two/setup2.bin\r\n"
           "ModifySuffix=.exe\r\nMainExeName=Main.exe\r\nHomeURL=http://home.test/\r\n" +
           extra;
  }
  void InstallVersion(const char16_t* v) { versions[info.Path() + u"Main.exe"] = v; }
  // Mode 0, a newer version found and declined: the update waits for the primary button.
  void OfferUpdate() {
    Start(0);
    flow->OnPrimaryButton();
    InstallVersion(u"1.0");
    view.answers = {MessageAnswer::No};
    reader.Finish(kTaskCheck, {}, Document("2.0"));
    ASSERT_EQ(flow->stage(), Stage::UpdateOffered);
  }
};

TEST(FlowStage, PrimaryCaptionSaysWhatPressingDoesNext) {
  EXPECT_EQ(PrimaryCaption(Stage::Idle), u"检查更新");
  EXPECT_EQ(PrimaryCaption(Stage::Checking), u"停止检查");
  EXPECT_EQ(PrimaryCaption(Stage::UpdateOffered), u"立即更新");
  EXPECT_EQ(PrimaryCaption(Stage::Downloading), u"取消更新");
}

TEST_F(Flow, Mode0WaitsThenCheckStopAndCheckAgain) {
  Start(0);
  EXPECT_EQ(view.title, u"示例 - 智能更新程序");
  EXPECT_EQ(view.notes, u"configured");
  EXPECT_EQ(view.log,
            (std::vector<std::string>{"centre", "icon", "tray", "balloon 示例|智能更新程序|1"}));
  EXPECT_TRUE(reader.started.empty());

  flow->OnPrimaryButton();
  EXPECT_EQ(view.stage, Stage::Checking);
  EXPECT_EQ(view.status, kStatusChecking);
  EXPECT_TRUE(view.Logged("balloon 自动更新|正在检查新版本...|1"));
  ASSERT_EQ(reader.started.size(), 1u);
  EXPECT_EQ(reader.started[0].url, u"http://a.test/u.ini");
  EXPECT_EQ(reader.started[0].key, kTaskCheck);

  flow->OnPrimaryButton();  // stop abandons the request
  EXPECT_EQ(view.stage, Stage::Idle);
  EXPECT_EQ(view.status, u"停止检查");
  EXPECT_EQ(downloader.TaskCount(), 0);

  flow->OnPrimaryButton();  // a new check stands on its own, under the plain task name
  ASSERT_EQ(reader.started.size(), 2u);
  EXPECT_EQ(reader.started[1].key, kTaskCheck);
  InstallVersion(u"1.0.0.0");
  reader.Finish(kTaskCheck, {}, Document("1.0.0.0"));  // up to date
  EXPECT_EQ(view.status, u"已是最新！无需更新！");
  EXPECT_EQ(view.stage, Stage::Idle);
  EXPECT_TRUE(view.Logged("msgbox 已是最新！无需更新！|提示：|0"));
  EXPECT_EQ(view.log.back(), "close");
}

TEST_F(Flow, Mode1WholeUpdateWithFallbacks) {
  Start(1, {u"a.test/u.ini", u"b.test/u.ini", u"c.test/u.ini", u"d.test/u.ini"});
  EXPECT_EQ(view.stage, Stage::Checking);  // the check started with the window
  reader.Finish(kTaskCheck, SystemError(12029));
  reader.Finish(kTaskCheck, HttpStatusError(404));
  reader.Finish(kTaskCheck, {}, "<html>Sign in to the network</html>");  // no document
  ASSERT_EQ(reader.started.size(), 4u);
  EXPECT_EQ(reader.started[3].url, u"http://d.test/u.ini");
  EXPECT_EQ(view.status, kStatusChecking);  // retries are silent

  processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"},
                         {8, u"other.exe", info.Path() + u"other.exe"}};
  InstallVersion(u"1.0.0.0");
  view.answers = {MessageAnswer::Yes};
  reader.Finish(kTaskCheck, {}, Document("1.1.0.0", "UpdateText=   \r\n"));
  EXPECT_EQ(view.notes, u"configured");  // a blank text keeps the configured one
  EXPECT_EQ(info.HomeURL(), u"http://home.test/");
  EXPECT_TRUE(view.Logged("msgbox 发现新版本，是否立即更新？|自动更新：|1"));
  EXPECT_EQ(view.stage, Stage::Downloading);
  EXPECT_EQ(view.status, u"正在从旧版：1.0.0.0        升级到：1.1.0.0");
  EXPECT_EQ(view.log.back(), "restore");
  ASSERT_EQ(reader.started.size(), 5u);
  EXPECT_EQ(reader.started[4].url, u"http://d.test/one/setup.bin");

  flow->DownloadProgress(u"", kTaskDownload, u"", 2621440, 5242880, u"1.25 MB/S", u"00:00:02", 1);
  EXPECT_EQ(view.progressMax, 5242880);
  EXPECT_EQ(view.progressValue, 2621440);
  EXPECT_EQ(view.speed, u"速度：  1.25 MB/S");
  EXPECT_EQ(view.remaining, u"剩余时间：00:00:02");
  flow->DownloadProgress(u"", kTaskCheck, u"", 1, 2, u"x", u"y", 1);  // not shown
  EXPECT_EQ(view.progressValue, 2621440);
  // Past the bar's 32-bit range the totals are scaled: half is still half.
  flow->DownloadProgress(u"", kTaskDownload, u"", 3e9, 6e9, u"9.00 MB/S", u"00:05:00", 1);
  EXPECT_EQ(view.progressMax, 2147483647);
  EXPECT_NEAR(view.progressValue, 1073741824, 1);

  reader.FinishFile(kTaskDownload);
  EXPECT_EQ(view.status, u"下载完成！");
  EXPECT_EQ(view.speed, kIdleSpeed);
  EXPECT_TRUE(view.Logged("msgbox 更新文件下载完毕！单击 [确定] 重启程序。|下载完成：|0"));
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(view.log[view.log.size() - 2],
            "shell " + Utf16ToUtf8(reader.started[4].savePath) + "|1");
  EXPECT_EQ(view.log.back(), "close");
}

TEST_F(Flow, PrimaryButtonMovesBetweenStages) {
  OfferUpdate();
  flow->OnPrimaryButton();
  EXPECT_EQ(view.stage, Stage::Downloading);
  flow->OnPrimaryButton();  // cancel
  EXPECT_EQ(view.stage, Stage::UpdateOffered);
  EXPECT_EQ(view.status, u"用户取消下载更新！");
  EXPECT_TRUE(view.Logged("balloon 自动更新|用户取消下载更新！|3"));
  EXPECT_EQ(downloader.TaskCount(), 0);
  reader.FinishFile(kTaskDownload);  // late news of the cancelled read is ignored
  EXPECT_FALSE(view.Logged("msgbox 更新文件下载完毕！单击 [确定] 重启程序。|下载完成：|0"));
  flow->RestartCheck();  // the record's CheckUpdate: whatever runs, check anew
  EXPECT_EQ(view.stage, Stage::Checking);
  EXPECT_EQ(reader.started.back().key, kTaskCheck);
}

TEST_F(Flow, PackageFailuresKeepTheOfferAndRetryFromTheFirstAddress) {
  OfferUpdate();
  flow->OnPrimaryButton();
  reader.FinishFile(
      kTaskDownload,
      TransferFailure::kAccessDenied);  // a locked save path: no other address is tried
  EXPECT_EQ(view.stage, Stage::UpdateOffered);
  EXPECT_EQ(view.status, u"拒绝访问。");
  const std::size_t before = reader.started.size();

  flow->OnPrimaryButton();
  reader.Finish(kTaskDownload, HttpStatusError(500));
  EXPECT_EQ(FileNameOf(reader.started.back().savePath), u"setup2.bin.exe");
  reader.Finish(kTaskDownload, HttpStatusError(500));
  EXPECT_EQ(reader.started.size(), before + 2);
  EXPECT_EQ(view.status, u"下载文件出错！");
  EXPECT_EQ(view.stage, Stage::UpdateOffered);

  // Every new attempt starts from the first address again.
  flow->OnPrimaryButton();
  EXPECT_EQ(reader.started.back().url, u"http://d.test/one/setup.bin");
  // The shell cannot open the package: the user is told, the program stays.
  view.shellResult = {false, u"没有关联的程序"};
  reader.FinishFile(kTaskDownload);
  EXPECT_FALSE(view.closed);
  EXPECT_EQ(view.stage, Stage::UpdateOffered);
  EXPECT_EQ(view.status, u"无法打开更新文件！");
}

TEST_F(Flow, Mode2IsSilentUnlessTheUserAccepts) {
  Start(2);
  EXPECT_EQ(view.log, (std::vector<std::string>{"offscreen", "icon"}));
  reader.Finish(kTaskCheck, HttpStatusError(404));  // every address failed: the program just ends
  EXPECT_EQ(view.log.back(), "close");
  EXPECT_FALSE(view.Logged("msgbox 获取升级信息失败！| 提示：|0"));
  for (MessageAnswer answer : {MessageAnswer::Yes, MessageAnswer::No}) {
    view = RecordingView();
    Start(2);
    view.answers = {answer};
    reader.Finish(reader.started.back().key, {}, Document("3.0"));  // no main exe installed
    EXPECT_EQ(info.LocalVersion(), u"0.0.0.0");
    if (answer == MessageAnswer::Yes) {
      EXPECT_EQ(view.log[view.log.size() - 2], "centre");
      EXPECT_EQ(view.log.back(), "restore");
      downloader.RemoveAllTasks();
    } else {
      EXPECT_EQ(view.log.back(), "close");
    }
  }
}

TEST_F(Flow, CheckFailuresAreReportedInMode1) {
  Start(1, {u"a.test/u.ini", u"b.test/u.ini"});
  reader.Finish(kTaskCheck, {}, "<html><body>Sign in to the network</body></html>");
  ASSERT_EQ(reader.started.size(), 2u);  // the next address is asked
  reader.Finish(kTaskCheck, {}, "[UpdateInfo]\r\nVersion=\r\n");
  EXPECT_EQ(view.stage, Stage::Idle);
  EXPECT_EQ(view.status, u"获取升级信息失败！");
  EXPECT_TRUE(view.Logged("balloon 自动更新|获取升级信息失败！|1"));
  EXPECT_EQ(view.log.back(), "msgbox 获取升级信息失败！| 提示：|0");
  EXPECT_FALSE(view.closed);

  // An overflowing version part is a failed check, not a crash.
  flow->RestartCheck();
  reader.Finish(kTaskCheck, {}, Document("99999999999.0"));
  EXPECT_EQ(view.status, u"获取升级信息失败！");
  EXPECT_FALSE(view.closed);
}

TEST_F(Flow, RefusedPackageNamesAndCutImagesFailTheirAddress) {
  Start(1);
  processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"}};
  InstallVersion(u"1.0");
  view.answers = {MessageAnswer::Yes};
  // The first name climbs out of Update\; the second is a cut program image.
  reader.Finish(kTaskCheck, {},
                "[UpdateInfo]\r\nVersion=2.0\r\nMainExeName=Main.exe\r\n"
                "DownloadURL=http://d.test/..\\..\\evil.exe|http://d.test/setup.exe\r\n");
  ASSERT_EQ(reader.started.size(), 2u);  // the refused address never reached the reader
  EXPECT_EQ(reader.started[1].url, u"http://d.test/setup.exe");
  const std::string image = ReadWholeFile(ScriptedReader::ImageFixture()).value_or("");
  ASSERT_GT(image.size(), 1000u);
  reader.FinishFile(kTaskDownload, {}, image.substr(0, image.size() / 2));
  EXPECT_EQ(view.status, u"下载文件出错！");
  EXPECT_EQ(view.stage, Stage::UpdateOffered);
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_FALSE(view.closed);
}

TEST_F(Flow, HomePageOpensOnlyWebAddressesAndTheTrayMenuActs) {
  Start(0);
  for (const char16_t* refused : {u"C:\\Windows\\notepad.exe", u"file:///C:/x.exe", u"\\\\host\\x",
                                  u"javascript:alert(1)", u""}) {
    info.SetHomeURL(refused);
    flow->OnHomePageButton();
  }
  for (const auto& entry : view.log) EXPECT_NE(entry.rfind("shell", 0), 0u) << entry;
  info.SetHomeURL(u"HTTPS://home.test/");
  flow->OnHomePageButton();
  EXPECT_EQ(view.log.back(), "shell HTTPS://home.test/|0");
  flow->OnTrayShow();
  EXPECT_EQ(view.log.back(), "restore");
  flow->OnTrayExit();
  EXPECT_EQ(view.log.back(), "untray close");
  flow->OnClose();
  EXPECT_EQ(view.log.back(), "untray");
  flow->OnPrimaryButton();  // a closed window starts nothing
  EXPECT_TRUE(reader.started.empty());
}

}  // namespace
}  // namespace sealupdate
