#include "window/update_flow.h"

#include <gtest/gtest.h>

#include <array>
#include <map>

#include "base/text.h"
#include "fake_process_table.h"
#include "model/version_info.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

using Log = std::vector<std::string>;

// Reads complete only when the test says so, under the key of the last read started; also the
// downloader's clock and event pump.
struct ScriptedReader : UrlReader, Clock, EventPump {
  std::vector<std::array<std::u16string, 3>> started;  // url, key, save path
  UrlReaderSink* sink = nullptr;

  void SetSink(UrlReaderSink* s) override { sink = s; }
  TransferError Start(const std::u16string& url, const std::u16string& key,
                      const std::u16string& savePath) override {
    started.push_back({url, key, savePath});
    return {};
  }
  bool Cancel(const std::u16string&) override { return true; }
  std::int64_t NowSeconds() override { return 1000; }
  void ProcessPendingEvents() override {}

  void Finish(TransferError error, std::string body = {}) {
    ReadResult result;
    result.error = error;
    result.body = std::move(body);
    sink->OnReadComplete(started.back()[1], std::move(result));
  }
  // A whole program image by default, as a package that arrived intact.
  void FinishFile(TransferError moveError = {}, std::string body = Image()) {
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
    sink->OnReadComplete(kTaskDownload, std::move(result));
  }
  static std::string Image() {
    return ReadWholeFile(FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\en_app.exe").value_or("");
  }
};

// Keeps what the window shows and logs the notable calls; answers every question alike.
class RecordingView : public UpdateView {
 public:
  Stage stage = Stage::Idle;
  std::u16string title, status, speed, remaining, notes;
  std::int32_t value = 0, max = 0;
  Log log;
  MessageAnswer answer = MessageAnswer::No;
  ShellResult shellResult;

  void SetTitle(const std::u16string& t) override { title = t; }
  void ShowStage(Stage s) override { stage = s; }
  void SetStatus(const std::u16string& t) override { status = t; }
  void SetSpeed(const std::u16string& t) override { speed = t; }
  void SetRemaining(const std::u16string& t) override { remaining = t; }
  void SetNotes(const std::u16string& t) override { notes = t; }
  void SetProgress(std::int32_t v, std::int32_t m) override { value = v, max = m; }
  void PlaceCentered() override { log.push_back("centre"); }
  void PlaceOffscreen() override { log.push_back("offscreen"); }
  void UseOwnIcon() override { log.push_back("icon"); }
  void AddTrayIcon() override { log.push_back("tray"); }
  void ShowTrayBalloon(const std::u16string& t, const std::u16string& text,
                       TrayIconKind icon) override {
    log.push_back("balloon " + Utf16ToUtf8(t + u"|" + text) + "|" +
                  std::to_string(static_cast<int>(icon)));
  }
  void RemoveTrayIcon(bool close) override { log.push_back(close ? "untray close" : "untray"); }
  void RestoreWindow() override { log.push_back("restore"); }
  MessageAnswer ShowMessage(const std::u16string& text, const std::u16string& t,
                            MessageButtons buttons, MessageIcon icon) override {
    log.push_back("msgbox " + Utf16ToUtf8(text + u"|" + t) + "|" +
                  std::to_string(static_cast<int>(icon)));
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : answer;
  }
  ShellResult ShellOpen(const std::u16string& target, int show) override {
    log.push_back("shell " + Utf16ToUtf8(target) + "|" + std::to_string(show));
    return shellResult;
  }
  void Close() override { log.push_back("close"); }
  Log Tail(std::size_t n) const { return Log(log.end() - std::min(n, log.size()), log.end()); }
};

std::string Document(const char* version, const char* extra = "") {
  return std::string("[UpdateInfo]\r\nVersion=") + version +
         "\r\nDownloadURL=http://d.test/one/setup.bin|http://d.test/two/setup2.bin\r\n"
         "ModifySuffix=.exe\r\nMainExeName=Main.exe\r\nHomeURL=http://home.test/\r\n" +
         extra;
}

using State = std::pair<Stage, std::u16string>;

struct Harness {
  std::u16string folder = ScratchFolder();
  FakeProcessTable processes;
  UpdateRecord info{folder, processes};
  ScriptedReader reader;
  Downloader downloader{reader, reader, reader, folder};
  RecordingView view;
  std::map<std::u16string, std::u16string> versions;  // file path -> file version
  std::unique_ptr<UpdateFlow> flow;

  void Start(std::int32_t mode, std::vector<std::u16string> updateUrls = {u"a.test/u.ini"}) {
    info.SetSoftName(u"示例");
    info.SetUpdateText(u"configured");
    info.SetUpdateMode(mode);
    for (const auto& u : updateUrls) info.AddUpdateURL(u);
    flow = std::make_unique<UpdateFlow>(view, info, downloader, mode, [this](const auto& p) {
      return versions.count(p) ? versions[p] : std::u16string();
    });
    downloader.SetEvents(flow.get());
    flow->Start();
  }
  void Install(const char* v) { versions[info.Path() + u"Main.exe"] = Utf8ToUtf16(v); }
  State Now() const { return {view.stage, view.status}; }
  // Mode 0, a newer version found and declined: the update waits for the primary button.
  void OfferUpdate() {
    Start(0);
    flow->OnPrimaryButton();
    Install("1.0");
    reader.Finish({}, Document("2.0"));
  }
};

class Flow : public ::testing::Test, public Harness {};

const std::u16string kChecking = u"正在检查新版本...", kFailed = u"获取升级信息失败！",
                     kUpToDate = u"已是最新！无需更新！", kDownloadFailed = u"下载文件出错！";
const std::string kQuestion = "msgbox 发现新版本，是否立即更新？|自动更新：|1";

// How each mode ends a check: the document, the installed version and the user's answer.
TEST(FlowCheck, EveryOutcomeInEveryMode) {
  const MessageAnswer yes = MessageAnswer::Yes, no = MessageAnswer::No;
  const std::u16string fromTo = u"正在从旧版：1.0        升级到：2.0";
  const struct {
    std::int32_t mode;
    const char* installed;
    std::string document;
    MessageAnswer answer;
    State state;
    Log tail;
  } cases[] = {
      {0,
       "2.0.0.0",
       Document("2.0"),
       no,
       {Stage::Idle, kUpToDate},
       {"balloon 自动更新|已是最新！无需更新！|1", "msgbox 已是最新！无需更新！|提示：|0",
        "close"}},
      {2, "2.0", Document("2.0"), no, {Stage::Idle, kUpToDate}, {"offscreen", "icon", "close"}},
      {1, "1.0", Document("2.0"), yes, {Stage::Downloading, fromTo}, {kQuestion, "restore"}},
      {1,
       "1.0",
       Document("2.0"),
       no,
       {Stage::UpdateOffered, u"发现新版本：2.0        本地版本：1.0"},
       {"balloon 自动更新|正在检查新版本...|1", kQuestion}},
      {2,
       "1.0",
       Document("2.0"),
       yes,
       {Stage::Downloading, fromTo},
       {kQuestion, "centre", "restore"}},
      {2,
       "",
       Document("2.0"),
       no,
       {Stage::UpdateOffered, u"发现新版本：2.0        本地版本：0.0.0.0"},
       {"offscreen", "icon", kQuestion, "close"}},
      {1,
       "1.0",
       "[UpdateInfo]\r\nVersion=\r\n",
       no,
       {Stage::Idle, kFailed},
       {"balloon 自动更新|获取升级信息失败！|1", "msgbox 获取升级信息失败！| 提示：|0"}},
      {1,
       "1.0",
       Document("99999999999.0"),
       no,
       {Stage::Idle, kFailed},  // overflow: no crash
       {"balloon 自动更新|获取升级信息失败！|1", "msgbox 获取升级信息失败！| 提示：|0"}},
      {2, "1.0", "", no, {Stage::Idle, kFailed}, {"offscreen", "icon", "close"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + c.document);
    Harness h;
    h.Start(c.mode);
    h.Install(c.installed);
    if (!*c.installed) h.versions.clear();
    h.view.answer = c.answer;
    if (c.mode == 0) h.flow->OnPrimaryButton();
    h.reader.Finish({}, c.document);
    EXPECT_EQ(h.Now(), c.state);
    EXPECT_EQ(h.view.Tail(c.tail.size()), c.tail);
  }
}

TEST_F(Flow, Mode0WaitsThenCheckStopAndCheckAgain) {
  std::u16string captions;
  for (Stage s : {Stage::Idle, Stage::Checking, Stage::UpdateOffered, Stage::Downloading})
    captions += PrimaryCaption(s);
  EXPECT_EQ(captions, u"检查更新停止检查立即更新取消更新");
  Start(0);
  EXPECT_EQ(view.title + u"|" + view.notes, u"示例 - 智能更新程序|configured");
  EXPECT_EQ(view.log, (Log{"centre", "icon", "tray", "balloon 示例|智能更新程序|1"}));
  EXPECT_TRUE(reader.started.empty());
  flow->OnPrimaryButton();
  EXPECT_EQ(Now(), State(Stage::Checking, kChecking));
  EXPECT_EQ(view.log.back(), "balloon 自动更新|正在检查新版本...|1");
  EXPECT_EQ(reader.started.at(0)[0] + u" " + reader.started[0][1],
            u"http://a.test/u.ini 检查新版本");
  flow->OnPrimaryButton();  // stop abandons the request
  EXPECT_EQ(Now(), State(Stage::Idle, u"停止检查"));
  EXPECT_EQ(downloader.TaskCount(), 0);
  flow->OnPrimaryButton();  // a new check stands on its own, under the plain task name
  EXPECT_EQ(reader.started.at(1)[1], kTaskCheck);
  EXPECT_EQ(Now(), State(Stage::Checking, kChecking));
}

TEST_F(Flow, Mode1WholeUpdateWithFallbacks) {
  Start(1, {u"a.test/u.ini", u"b.test/u.ini", u"c.test/u.ini", u"d.test/u.ini"});
  reader.Finish(SystemError(12029));
  reader.Finish(HttpStatusError(404));
  reader.Finish({}, "<html>Sign in to the network</html>");  // no document
  EXPECT_EQ(reader.started.at(3)[0], u"http://d.test/u.ini");
  EXPECT_EQ(Now(), State(Stage::Checking, kChecking));  // retries are silent
  processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"},
                         {8, u"other.exe", info.Path() + u"other.exe"}};
  Install("1.0");
  view.answer = MessageAnswer::Yes;
  reader.Finish({}, Document("2.0", "UpdateText=   \r\n"));
  EXPECT_EQ(view.notes, u"configured");  // a blank text keeps the configured one
  EXPECT_EQ(info.HomeURL(), u"http://home.test/");
  EXPECT_EQ(reader.started.at(4)[0], u"http://d.test/one/setup.bin");

  flow->DownloadProgress(u"", kTaskDownload, u"", 2621440, 5242880, u"1.25 MB/S", u"00:00:02", 1);
  EXPECT_EQ(std::tuple(view.value, view.max, view.speed, view.remaining),
            std::tuple(2621440, 5242880, std::u16string(u"速度：  1.25 MB/S"),
                       std::u16string(u"剩余时间：00:00:02")));
  flow->DownloadProgress(u"", kTaskCheck, u"", 1, 2, u"x", u"y", 1);  // not shown
  EXPECT_EQ(view.value, 2621440);
  // Past the bar's 32-bit range the totals are scaled: half is still half.
  flow->DownloadProgress(u"", kTaskDownload, u"", 3e9, 6e9, u"9.00 MB/S", u"00:05:00", 1);
  EXPECT_EQ(view.max, 2147483647);
  EXPECT_NEAR(view.value, 1073741824, 1);

  reader.FinishFile();
  EXPECT_EQ(Now(), State(Stage::Idle, u"下载完成！"));
  EXPECT_EQ(view.speed + view.remaining, std::u16string(kIdleSpeed) + kIdleRemaining);
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(view.Tail(3), (Log{"msgbox 更新文件下载完毕！单击 [确定] 重启程序。|下载完成：|0",
                               "shell " + Utf16ToUtf8(reader.started[4][2]) + "|1", "close"}));
}

TEST_F(Flow, CancelAndPackageFailuresKeepTheOfferAndRetryFromTheFirstAddress) {
  OfferUpdate();
  flow->OnPrimaryButton();
  EXPECT_EQ(view.stage, Stage::Downloading);
  flow->OnPrimaryButton();  // cancel
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"用户取消下载更新！"));
  EXPECT_EQ(view.log.back(), "balloon 自动更新|用户取消下载更新！|3");
  EXPECT_EQ(downloader.TaskCount(), 0);
  reader.FinishFile();  // late news of the cancelled read is ignored
  EXPECT_EQ(view.log.back(), "balloon 自动更新|用户取消下载更新！|3");

  flow->OnPrimaryButton();
  reader.FinishFile(TransferFailure::kAccessDenied);  // a locked save path: no other address
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"拒绝访问。"));
  const std::size_t before = reader.started.size();
  flow->OnPrimaryButton();
  reader.Finish(HttpStatusError(500));
  EXPECT_EQ(FileNameOf(reader.started.back()[2]), u"setup2.bin.exe");
  reader.Finish(HttpStatusError(500));
  EXPECT_EQ(reader.started.size(), before + 2);
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, kDownloadFailed));

  flow->OnPrimaryButton();  // every attempt starts from the first address again
  EXPECT_EQ(reader.started.back()[0], u"http://d.test/one/setup.bin");
  view.shellResult = {false, u"没有关联的程序"};  // the shell cannot open the package
  reader.FinishFile();
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"无法打开更新文件！"));
  EXPECT_NE(view.log.back(), "close");
  flow->RestartCheck();  // the record's CheckUpdate: whatever runs, check anew
  EXPECT_EQ(reader.started.back()[1], kTaskCheck);
  EXPECT_EQ(view.stage, Stage::Checking);
}

TEST_F(Flow, RefusedPackageNamesAndCutImagesFailTheirAddress) {
  Start(1);
  processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"}};
  Install("1.0");
  view.answer = MessageAnswer::Yes;
  // The first name climbs out of Update\; the second is a cut program image.
  reader.Finish({},
                "[UpdateInfo]\r\nVersion=2.0\r\nMainExeName=Main.exe\r\n"
                "DownloadURL=http://d.test/..\\..\\evil.exe|http://d.test/setup.exe\r\n");
  ASSERT_EQ(reader.started.size(), 2u);  // the refused address never reached the reader
  EXPECT_EQ(reader.started[1][0], u"http://d.test/setup.exe");
  const std::string image = ScriptedReader::Image();
  ASSERT_GT(image.size(), 1000u);
  reader.FinishFile({}, image.substr(0, image.size() / 2));
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, kDownloadFailed));
  EXPECT_TRUE(processes.terminated.empty());
}

TEST_F(Flow, HomePageOpensOnlyWebAddressesAndTheTrayMenuActs) {
  Start(0);
  for (const char16_t* refused : {u"C:\\Windows\\notepad.exe", u"file:///C:/x.exe", u"\\\\host\\x",
                                  u"javascript:alert(1)", u""}) {
    info.SetHomeURL(refused);
    flow->OnHomePageButton();
  }
  info.SetHomeURL(u"HTTPS://home.test/");
  flow->OnHomePageButton();
  flow->OnTrayShow();
  flow->OnTrayExit();
  flow->OnClose();
  flow->OnPrimaryButton();  // a closed window starts nothing
  flow->OnHomePageButton();
  EXPECT_TRUE(reader.started.empty());
  EXPECT_EQ(view.Tail(4), (Log{"shell HTTPS://home.test/|0", "restore", "untray close", "untray"}));
}

}  // namespace
}  // namespace sealupdate
