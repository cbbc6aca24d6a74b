#include "window/frm_main.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "base/text.h"
#include "fake_process_table.h"
#include "model/pe_info.h"
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
  int Start(const std::u16string& url, const std::u16string& key,
            const std::u16string& savePath) override {
    started.push_back({url, key, savePath});
    return 0;
  }
  bool Cancel(const std::u16string&) override { return true; }

  void Finish(const std::u16string& key, int error, std::string body = {}) {
    ReadResult result;
    result.error = error;
    result.body = std::move(body);
    sink->OnReadComplete(key, std::move(result));
  }
  // A whole program image by default, as a package that arrived intact.
  void FinishFile(const std::u16string& key, int moveError = 0,
                  std::string body = ReadWholeFile(ImageFixture()).value_or("")) {
    struct File : DownloadedFile {
      int moveError;
      std::string body;
      File(int e, std::string b) : moveError(e), body(std::move(b)) {}
      std::uint64_t Size() const override { return body.size(); }
      bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
        return MemoryByteView(body).ReadAt(offset, buffer, length);
      }
      int MoveTo(const std::u16string&) override { return moveError; }
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
class RecordingView : public FrmMainView {
 public:
  std::u16string title = u"智能更新程序";
  std::u16string cmd1[2] = {kCaptionCheck, kCaptionHomePage};
  std::u16string lbl1[4] = {u"未开始。", u"进度：", kDesignedSpeed, kDesignedTime};
  std::u16string text1;
  std::int32_t progressMax = 100, progressValue = 0;
  std::vector<std::string> log;  // notable calls, in order
  std::deque<MessageAnswer> answers;
  ShellResult shellResult;
  bool unloaded = false;

  void SetTitle(const std::u16string& t) override { title = t; }
  std::u16string Cmd1Caption(int i) override { return cmd1[i]; }
  void SetCmd1Caption(int i, const std::u16string& c) override { cmd1[i] = c; }
  std::u16string Lbl1Caption(int i) override { return lbl1[i]; }
  void SetLbl1Caption(int i, const std::u16string& c) override { lbl1[i] = c; }
  void SetText1(const std::u16string& t) override { text1 = t; }
  void SetProgressMax(std::int32_t m) override { progressMax = m; }
  void SetProgressValue(std::int32_t v) override { progressValue = v; }
  void PlaceCentered() override { log.push_back("centre"); }
  void PlaceOffscreen() override { log.push_back("offscreen"); }
  void SetSmallIconFromOwnExe() override { log.push_back("icon"); }
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
  ShellResult ShellOpen(const std::u16string& file, int show) override {
    log.push_back("shell " + Utf16ToUtf8(file) + "|" + std::to_string(show));
    return shellResult;
  }
  void UnloadWindow() override {
    log.push_back("unload");
    unloaded = true;
  }
  bool Logged(const std::string& entry) const {
    for (const auto& l : log) {
      if (l == entry) return true;
    }
    return false;
  }
};

const std::u16string kStatusChecking = u"正在检查新版本...";

class Flow : public ::testing::Test {
 protected:
  std::u16string folder = ScratchFolder();
  FakeProcessTable processes;
  clsUpdateInfo info{folder, processes};
  ScriptedReader reader;
  FixedClock clock;
  NoPump pump;
  Downloader downloader{reader, clock, pump, folder};
  RecordingView view;
  std::map<std::u16string, std::u16string> versions;  // file path -> file version
  std::unique_ptr<FrmMain> form;

  void Load(std::int32_t mode, std::vector<std::u16string> updateUrls = {u"a.test/u.ini"}) {
    info.SetSoftName(u"示例");
    info.SetUpdateText(u"configured");
    info.SetUpdateMode(mode);
    for (const auto& u : updateUrls) info.AddUpdateURL(u);
    form = std::make_unique<FrmMain>(view, info, downloader, mode, [this](const std::u16string& p) {
      auto it = versions.find(p);
      return it == versions.end() ? std::u16string() : it->second;
    });
    downloader.SetEvents(form.get());
    form->Form_Load();
  }
  static std::string Document(const char* version, const char* extra = "") {
    return std::string("[UpdateInfo]\r\nVersion=") + version +
           "\r\nDownloadURL=http://d.test/one/setup.bin|http://d.test/two/setup2.bin\r\n"
           "ModifySuffix=.exe\r\nMainExeName=Main.exe\r\nHomeURL=http://home.test/\r\n" +
           extra;
  }
  void InstallVersion(const char16_t* v) { versions[info.Path() + u"Main.exe"] = v; }
};

TEST_F(Flow, Mode0WaitsThenCheckStopAndCheckAgain) {
  Load(0);
  EXPECT_EQ(view.title, u"示例 - 智能更新程序");
  EXPECT_EQ(view.text1, u"configured");
  EXPECT_EQ(view.log,
            (std::vector<std::string>{"centre", "icon", "tray", "balloon 示例|智能更新程序|1"}));
  EXPECT_TRUE(reader.started.empty());

  form->cmd1_Click(0);
  EXPECT_EQ(view.cmd1[0], kCaptionStopCheck);
  EXPECT_EQ(view.lbl1[0], kStatusChecking);
  EXPECT_TRUE(view.Logged("balloon 自动更新|正在检查新版本...|1"));
  ASSERT_EQ(reader.started.size(), 1u);
  EXPECT_EQ(reader.started[0].url, u"http://a.test/u.ini");
  EXPECT_EQ(reader.started[0].key, kTaskCheck);

  form->cmd1_Click(0);  // stop abandons the request
  EXPECT_EQ(view.cmd1[0], kCaptionCheck);
  EXPECT_EQ(view.lbl1[0], u"停止检查");
  EXPECT_EQ(downloader.TaskCount(), 0);

  form->cmd1_Click(0);  // a new check stands on its own, under the plain task name
  ASSERT_EQ(reader.started.size(), 2u);
  EXPECT_EQ(reader.started[1].key, kTaskCheck);
  EXPECT_EQ(view.cmd1[0], kCaptionStopCheck);

  InstallVersion(u"1.0.0.0");
  reader.Finish(kTaskCheck, 0, Document("1.0.0.0"));  // up to date
  EXPECT_EQ(view.lbl1[0], u"已是最新！无需更新！");
  EXPECT_EQ(view.cmd1[0], kCaptionCheck);
  EXPECT_TRUE(view.Logged("msgbox 已是最新！无需更新！|提示：|0"));
  EXPECT_EQ(view.log.back(), "unload");
}

TEST_F(Flow, Mode1WholeUpdateWithFallbacks) {
  Load(1, {u"a.test/u.ini", u"b.test/u.ini", u"c.test/u.ini"});
  EXPECT_EQ(view.cmd1[0], kCaptionStopCheck);  // the check started while loading
  reader.Finish(kTaskCheck, 12029);
  reader.Finish(kTaskCheck, 404);
  ASSERT_EQ(reader.started.size(), 3u);
  EXPECT_EQ(reader.started[2].url, u"http://c.test/u.ini");
  EXPECT_EQ(view.lbl1[0], kStatusChecking);  // retries are silent

  processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"},
                         {8, u"other.exe", info.Path() + u"other.exe"}};
  InstallVersion(u"1.0.0.0");
  view.answers = {MessageAnswer::Yes};
  reader.Finish(kTaskCheck, 0, Document("1.1.0.0", "UpdateText=   \r\n"));
  EXPECT_EQ(view.text1, u"configured");  // a blank text keeps the configured one
  EXPECT_EQ(info.HomeURL(), u"http://home.test/");
  EXPECT_TRUE(view.Logged("msgbox 发现新版本，是否立即更新？|自动更新：|1"));
  EXPECT_EQ(view.cmd1[0], kCaptionCancelUpdate);
  EXPECT_EQ(view.lbl1[0], u"正在从旧版：1.0.0.0        升级到：1.1.0.0");
  EXPECT_EQ(view.log.back(), "restore");
  ASSERT_EQ(reader.started.size(), 4u);
  EXPECT_EQ(reader.started[3].url, u"http://d.test/one/setup.bin");

  form->DownloadProgress(u"", kTaskDownload, u"", 2621440, 5242880, u"1.25 MB/S", u"00:00:02", 1);
  EXPECT_EQ(view.progressMax, 5242880);
  EXPECT_EQ(view.progressValue, 2621440);
  EXPECT_EQ(view.lbl1[2], u"速度：  1.25 MB/S");
  EXPECT_EQ(view.lbl1[3], u"剩余时间：00:00:02");
  form->DownloadProgress(u"", kTaskCheck, u"", 1, 2, u"x", u"y", 1);  // not shown
  EXPECT_EQ(view.progressValue, 2621440);
  // Past the bar's 32-bit range the totals are scaled: half is still half.
  form->DownloadProgress(u"", kTaskDownload, u"", 3e9, 6e9, u"9.00 MB/S", u"00:05:00", 1);
  EXPECT_EQ(view.progressMax, 2147483647);
  EXPECT_NEAR(view.progressValue, 1073741824, 1);
  form->DownloadProgress(u"", kTaskDownload, u"", 6e9, 6e9, u"9.00 MB/S", u"00:00:00", 1);
  EXPECT_EQ(view.progressValue, view.progressMax);

  reader.FinishFile(kTaskDownload, 0);
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(view.log.back(), "unload");
}

TEST_F(Flow, PackageFallsBackSavesUnderTheSecondNameAndHandsOver) {
  Load(1);
  processes.processes = {{7, u"MAIN.EXE", info.Path() + u"MAIN.EXE"},
                         {8, u"other.exe", info.Path() + u"other.exe"}};
  InstallVersion(u"1.0");
  view.answers = {MessageAnswer::Yes};
  reader.Finish(kTaskCheck, 0, Document("1.1"));
  reader.Finish(kTaskDownload, 12029);
  ASSERT_EQ(reader.started.size(), 3u);
  EXPECT_EQ(reader.started[2].url, u"http://d.test/two/setup2.bin");
  EXPECT_EQ(FileNameOf(reader.started[2].savePath), u"setup2.bin.exe");
  reader.FinishFile(kTaskDownload, 0);
  EXPECT_EQ(view.lbl1[0], u"下载完成！");
  EXPECT_EQ(view.lbl1[2], kDesignedSpeed);
  EXPECT_TRUE(view.Logged("msgbox 更新文件下载完毕！单击 [确定] 重启程序。|下载完成：|0"));
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(view.log[view.log.size() - 2],
            "shell " + Utf16ToUtf8(reader.started[2].savePath) + "|1");
  EXPECT_EQ(view.log.back(), "unload");
}

TEST_F(Flow, PackageErrors) {
  Load(0);
  form->cmd1_Click(0);
  InstallVersion(u"1.0");
  view.answers = {MessageAnswer::No};
  reader.Finish(kTaskCheck, 0, Document("2.0"));
  EXPECT_EQ(view.cmd1[0], kCaptionUpdate);  // "no" in mode 0: the user may update later
  EXPECT_FALSE(view.unloaded);

  form->cmd1_Click(0);
  reader.FinishFile(kTaskDownload, 70);  // a locked save path: no other address is tried
  EXPECT_EQ(view.cmd1[0], kCaptionUpdate);
  EXPECT_EQ(view.lbl1[0], u"拒绝访问。");
  EXPECT_EQ(reader.started.size(), 2u);

  form->cmd1_Click(0);  // restarts from the same address, then cancel
  EXPECT_EQ(reader.started.back().url, u"http://d.test/one/setup.bin");
  form->cmd1_Click(0);
  EXPECT_EQ(view.lbl1[0], u"用户取消下载更新！");
  EXPECT_TRUE(view.Logged("balloon 自动更新|用户取消下载更新！|3"));
  EXPECT_EQ(downloader.TaskCount(), 0);

  form->cmd1_Click(0);
  reader.Finish(kTaskDownload, 500);
  reader.Finish(kTaskDownload, 500);
  EXPECT_EQ(view.lbl1[0], u"下载文件出错！");
  EXPECT_EQ(view.cmd1[0], kCaptionUpdate);

  // The shell cannot open the package: the user is told, the program stays.
  form->cmd1_Click(0);
  EXPECT_EQ(reader.started.back().url, u"http://d.test/two/setup2.bin");  // never reset
  view.shellResult = {false, u"没有关联的程序"};
  reader.FinishFile(kTaskDownload, 0);
  EXPECT_FALSE(view.unloaded);
  EXPECT_EQ(view.cmd1[0], kCaptionUpdate);
}

TEST_F(Flow, Mode2IsSilentUnlessTheUserAccepts) {
  Load(2);
  EXPECT_EQ(view.log, (std::vector<std::string>{"offscreen", "icon"}));
  reader.Finish(kTaskCheck, 404);  // the only address fails: the program just ends
  EXPECT_EQ(view.log.back(), "unload");
  EXPECT_FALSE(view.Logged("msgbox 获取升级信息失败！| 提示：|0"));
}

TEST_F(Flow, Mode2AnswersYesAndNo) {
  for (MessageAnswer answer : {MessageAnswer::Yes, MessageAnswer::No}) {
    RecordingView fresh;
    view = fresh;
    Load(2);
    view.answers = {answer};
    reader.Finish(reader.started.back().key, 0, Document("3.0"));  // no main exe installed
    EXPECT_EQ(info.LocalVersion(), u"0.0.0.0");
    if (answer == MessageAnswer::Yes) {
      EXPECT_EQ(view.log[view.log.size() - 2], "centre");
      EXPECT_EQ(view.log.back(), "restore");
      downloader.RemoveAllTask();
    } else {
      EXPECT_EQ(view.log.back(), "unload");
    }
  }
}

TEST_F(Flow, CheckFailureInMode1PressesStopAndReports) {
  Load(1, {});
  reader.Finish(kTaskCheck, 12007);
  EXPECT_EQ(view.cmd1[0], kCaptionCheck);
  EXPECT_EQ(view.lbl1[0], u"获取升级信息失败！");
  EXPECT_TRUE(view.Logged("balloon 自动更新|获取升级信息失败！|1"));
  EXPECT_EQ(view.log.back(), "msgbox 获取升级信息失败！| 提示：|0");
  EXPECT_FALSE(view.unloaded);

  // A second check appends the document's addresses again; an overflowing version is a failure.
  form->CheckUpdate();
  reader.Finish(kTaskCheck, 0, Document("99999999999.0"));
  EXPECT_EQ(info.DownloadURLCount(), 1);
  EXPECT_EQ(view.lbl1[0], u"获取升级信息失败！");
}

TEST_F(Flow, HomePageAndMenu) {
  Load(0);
  info.SetHomeURL(u"http://home.test/");
  form->cmd1_Click(1);
  EXPECT_EQ(view.log.back(), "shell http://home.test/|0");
  form->mnuFile_ShowForm_Click();
  EXPECT_EQ(view.log.back(), "restore");
  form->mnuFile_Exit_Click();
  EXPECT_EQ(view.log.back(), "untray close");
}

TEST_F(Flow, AnswersThatAreNoDocumentFallBackThenFail) {
  Load(1, {u"a.test/u.ini", u"b.test/u.ini"});
  reader.Finish(kTaskCheck, 0, "<html><body>Sign in to the network</body></html>");
  ASSERT_EQ(reader.started.size(), 2u);  // the next address is asked
  EXPECT_FALSE(view.Logged("msgbox 已是最新！无需更新！|提示：|0"));
  reader.Finish(kTaskCheck, 0, "[UpdateInfo]\r\nVersion=\r\n");
  EXPECT_EQ(view.lbl1[0], u"获取升级信息失败！");
  EXPECT_EQ(view.log.back(), "msgbox 获取升级信息失败！| 提示：|0");
  EXPECT_FALSE(view.unloaded);
}

TEST_F(Flow, RefusedPackageNamesAndCutImagesFailTheirAddress) {
  Load(1);
  processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"}};
  InstallVersion(u"1.0");
  view.answers = {MessageAnswer::Yes};
  // The first name climbs out of Update\; the second is a cut program image.
  reader.Finish(kTaskCheck, 0,
                "[UpdateInfo]\r\nVersion=2.0\r\nMainExeName=Main.exe\r\n"
                "DownloadURL=http://d.test/..\\..\\evil.exe|http://d.test/setup.exe\r\n");
  ASSERT_EQ(reader.started.size(), 2u);  // the refused address never reached the reader
  EXPECT_EQ(reader.started[1].url, u"http://d.test/setup.exe");
  const std::string image = ReadWholeFile(ScriptedReader::ImageFixture()).value_or("");
  ASSERT_GT(image.size(), 1000u);
  reader.FinishFile(kTaskDownload, 0, image.substr(0, image.size() / 2));
  EXPECT_EQ(view.lbl1[0], u"下载文件出错！");
  EXPECT_EQ(view.cmd1[0], kCaptionUpdate);
  EXPECT_TRUE(processes.terminated.empty());
  EXPECT_FALSE(view.unloaded);
}

TEST_F(Flow, HomePageOpensOnlyWebAddresses) {
  Load(0);
  for (const char16_t* refused : {u"C:\\Windows\\notepad.exe", u"file:///C:/x.exe", u"\\\\host\\x",
                                  u"javascript:alert(1)", u""}) {
    info.SetHomeURL(refused);
    form->cmd1_Click(1);
  }
  for (const auto& entry : view.log) EXPECT_NE(entry.rfind("shell", 0), 0u) << entry;
  info.SetHomeURL(u"HTTPS://home.test/");
  form->cmd1_Click(1);
  EXPECT_EQ(view.log.back(), "shell HTTPS://home.test/|0");
}

}  // namespace
}  // namespace sealupdate
