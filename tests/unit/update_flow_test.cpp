#include "window/update_flow.h"

#include <gtest/gtest.h>

#include "base/encoding.h"
#include "fake_process_table.h"
#include "fake_reader.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

using Log = std::vector<std::string>;

// Keeps what the window shows and logs the notable calls; answers every question alike.
class RecordingView : public UpdateView {
 public:
  Stage stage = Stage::Idle;
  std::u16string title, status, speed, remaining, notes;
  std::int32_t value = 0, max = 0;
  Log log;
  MessageAnswer answer = MessageAnswer::No;
  ShellResult shellResult;

  void SetTitle(S t) override { title = t; }
  void ShowStage(Stage s) override { stage = s; }
  void SetStatus(S t) override { status = t; }
  void SetSpeed(S t) override { speed = t; }
  void SetRemaining(S t) override { remaining = t; }
  void SetNotes(S t) override { notes = t; }
  void SetProgress(std::int32_t v, std::int32_t m) override { value = v, max = m; }
  void PlaceCentered() override { log.push_back("centre"); }
  void PlaceOffscreen() override { log.push_back("offscreen"); }
  void UseOwnIcon() override { log.push_back("icon"); }
  void AddTrayIcon() override { log.push_back("tray"); }
  void ShowTrayBalloon(S t, S x, TrayIconKind i) override { Add("balloon", t + u"|" + x, int(i)); }
  void RemoveTrayIcon(bool close) override { log.push_back(close ? "untray close" : "untray"); }
  void RestoreWindow() override { log.push_back("restore"); }
  MessageAnswer ShowMessage(S x, S t, MessageButtons b, MessageIcon i) override {
    Add("msgbox", x + u"|" + t, int(i));
    return b == MessageButtons::Ok ? MessageAnswer::Ok : answer;
  }
  ShellResult ShellOpen(S to, int show) override { return Add("shell", to, show), shellResult; }
  void Close() override { log.push_back("close"); }
  void Add(const char* what, S text, int n) {
    log.push_back(what + (" " + Utf16ToUtf8(text)) + "|" + std::to_string(n));
  }
  Log Tail(std::size_t n) const { return Log(log.end() - std::min(n, log.size()), log.end()); }
};

std::string Document(const char* version, const char* extra = "") {
  return std::string("[UpdateInfo]\r\nVersion=") + version +
         "\r\nDownloadURL=http://d.test/one/setup.bin|http://d.test/two/setup2.bin\r\n"
         "ModifySuffix=.exe\r\nMainExeName=Main.exe\r\nHomeURL=http://home.test/\r\n" +
         extra;
}

std::string Image() {
  return ReadWholeFile(FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\en_app.exe").value_or("");
}

using State = std::pair<Stage, std::u16string>;

struct Harness {
  std::u16string folder = ScratchFolder();
  FakeProcessTable processes;
  UpdateRecord info{folder, processes};
  Rig reader;
  Downloader downloader{reader, reader, reader, folder};
  RecordingView view;
  std::u16string installed;  // the main program's file version
  std::unique_ptr<UpdateFlow> flow;

  void Start(std::int32_t mode, std::vector<std::u16string> updateUrls = {u"a.test/u.ini"}) {
    info.SetSoftName(u"示例");
    info.SetUpdateText(u"configured");
    for (const auto& u : updateUrls) info.AddUpdateURL(u);
    flow = std::make_unique<UpdateFlow>(view, info, downloader, mode, [this](S path) {
      return path == info.Path() + u"Main.exe" ? installed : u"";
    });
    downloader.SetEvents(flow.get());
    flow->Start();
  }
  // The main program runs and is at 1.0; the user accepts an update.
  void Prepare() {
    processes.processes = {{7, u"main.exe", info.Path() + u"main.exe"}};
    installed = u"1.0";
    view.answer = MessageAnswer::Yes;
  }
  State Now() const { return {view.stage, view.status}; }
  std::u16string Started() const { return reader.log.empty() ? u"" : reader.log.back(); }
};

class Flow : public ::testing::Test, public Harness {};

const std::u16string kChecking = u"正在检查新版本...";
const std::string kQuestion = "msgbox 发现新版本，是否立即更新？|自动更新：|1",
                  kFailedTail =
                      "balloon 自动更新|获取升级信息失败！|1;msgbox 获取升级信息失败！| 提示：|0",
                  kOffered = "发现新版本：2.0        本地版本：";

// How each mode ends a check: the document, the installed version and the user's answer give
// the stage, the status and the last notable calls.
TEST(FlowCheck, EveryOutcomeInEveryMode) {
  const std::tuple<std::int32_t, const char16_t*, std::string, bool, Stage, std::string> cases[] = {
      {0, u"2.0.0.0", Document("2.0"), false, Stage::Idle,
       "已是最新！无需更新！|balloon 自动更新|已是最新！无需更新！|1;msgbox "
       "已是最新！无需更新！|提示：|0;close"},
      {1, u"2.0", Document("2.0"), false, Stage::Idle,
       "已是最新！无需更新！|msgbox 已是最新！无需更新！|提示：|0;close"},
      {2, u"2.0", Document("2.0"), false, Stage::Idle, "已是最新！无需更新！|offscreen;icon;close"},
      {1, u"1.0", Document("2.0"), true, Stage::Downloading,
       "正在从旧版：1.0        升级到：2.0|" + kQuestion + ";restore"},
      {1, u"1.0", Document("2.0"), false, Stage::UpdateOffered,
       kOffered + "1.0|balloon 自动更新|正在检查新版本...|1;" + kQuestion},
      {2, u"1.0", Document("2.0"), true, Stage::Downloading,
       "正在从旧版：1.0        升级到：2.0|" + kQuestion + ";centre;restore"},
      {2, u"", Document("2.0"), false, Stage::UpdateOffered,
       kOffered + "0.0.0.0|offscreen;icon;" + kQuestion + ";close"},
      {1, u"1.0", "[UpdateInfo]\r\nVersion=\r\n", false, Stage::Idle,
       "获取升级信息失败！|" + kFailedTail},
      {1, u"1.0", Document("99999999999.0"), false, Stage::Idle,
       "获取升级信息失败！|" + kFailedTail},
      {2, u"1.0", "", false, Stage::Idle, "获取升级信息失败！|offscreen;icon;close"},
  };
  for (const auto& [mode, installed, document, yes, stage, expected] : cases) {
    SCOPED_TRACE(std::to_string(mode) + " " + document);
    Harness h;
    h.installed = installed;
    h.view.answer = yes ? MessageAnswer::Yes : MessageAnswer::No;
    h.Start(mode);
    if (mode == 0) {
      EXPECT_EQ(h.Started(), u"");  // mode 0 waits for the button
      h.flow->OnPrimaryButton();
    }
    h.reader.Body(document);
    const std::size_t calls = std::count(expected.begin(), expected.end(), ';') + 1;
    std::string seen = Utf16ToUtf8(h.view.status) + "|";
    for (const auto& call : h.view.Tail(calls)) seen += call + ";";
    seen.pop_back();
    EXPECT_EQ(h.view.stage, stage);
    EXPECT_EQ(seen, expected);
  }
}

TEST_F(Flow, Mode1WholeUpdateWithFallbacks) {
  Prepare();
  processes.processes.push_back({8, u"other.exe", info.Path() + u"other.exe"});
  Start(1, {u"a.test/u.ini", u"b.test/u.ini", u"c.test/u.ini", u"d.test/u.ini"});
  EXPECT_EQ(view.title + u"|" + view.notes, u"示例 - 智能更新程序|configured");
  EXPECT_EQ(view.log, (Log{"centre", "icon", "tray", "balloon 示例|智能更新程序|1",
                           "balloon 自动更新|正在检查新版本...|1"}));
  reader.Body("", SystemError(12029));
  reader.Body("", HttpStatusError(404));
  reader.Body("<html>Sign in to the network</html>");   // no document
  EXPECT_EQ(Now(), State(Stage::Checking, kChecking));  // retries are silent
  reader.Body(Document("2.0", "UpdateText=   \r\n"));
  EXPECT_EQ(view.notes, u"configured");  // a blank text keeps the configured one
  EXPECT_EQ(info.HomeURL(), u"http://home.test/");
  const std::u16string package = Started().substr(Started().find(u" -> ") + 4);
  EXPECT_EQ(Started(), u"start 下载更新文件 http://d.test/one/setup.bin -> " + package);
  EXPECT_EQ(package.substr(package.size() - 21), u"\\Update\\setup.bin.exe");

  flow->DownloadProgress(u"", kTaskDownload, u"", 2621440, 5242880, u"1.25 MB/S", u"00:00:02", 1);
  flow->DownloadProgress(u"", kTaskCheck, u"", 1, 2, u"x", u"y", 1);  // not shown
  EXPECT_EQ(view.speed + view.remaining, u"速度：  1.25 MB/S剩余时间：00:00:02");
  EXPECT_EQ(std::pair(view.value, view.max), std::pair(2621440, 5242880));
  // A retry is told until bytes flow again.
  const std::u16string downloading = view.status;
  flow->DownloadRetry(u"", kTaskDownload, u"", 2, 3);
  flow->DownloadRetry(u"", kTaskCheck, u"", 1, 3);  // not this download's
  EXPECT_EQ(view.status, u"网络中断，正在重试（2/3）…");
  // Past the bar's 32-bit range the totals are scaled: half is still half.
  flow->DownloadProgress(u"", kTaskDownload, u"", 3e9, 6e9, u"9.00 MB/S", u"00:05:00", 1);
  EXPECT_EQ(view.max, 2147483647);
  EXPECT_NEAR(view.value, 1073741824, 1);
  EXPECT_EQ(view.status, downloading);

  reader.File(kTaskDownload, Image());
  EXPECT_EQ(Now(), State(Stage::Idle, u"下载完成！"));
  EXPECT_EQ(view.speed + view.remaining, std::u16string(kIdleSpeed) + kIdleRemaining);
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(view.Tail(3), (Log{"msgbox 更新文件下载完毕！单击 [确定] 重启程序。|下载完成：|0",
                               "shell " + Utf16ToUtf8(package) + "|1", "close"}));
}

TEST_F(Flow, StopCancelAndPackageFailuresKeepTheOfferAndRetryFromTheFirstAddress) {
  installed = u"1.0";
  Start(1);
  flow->OnPrimaryButton();  // stop abandons the request
  EXPECT_EQ(Now(), State(Stage::Idle, u"停止检查"));
  flow->OnPrimaryButton();  // a new check stands on its own, under the plain task name
  EXPECT_EQ(reader.Take(),
            "start 检查新版本 http://a.test/u.ini; cancel 检查新版本; "
            "start 检查新版本 http://a.test/u.ini; ");
  reader.Body(Document("2.0"));  // declined: the update waits for the primary button
  flow->OnPrimaryButton();
  flow->OnPrimaryButton();  // cancel
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"用户取消下载更新！"));
  EXPECT_EQ(Started(), u"cancel 下载更新文件");
  EXPECT_EQ(view.log.back(), "balloon 自动更新|用户取消下载更新！|3");
  // Late news of the cancelled read, and news of no read at all, are ignored.
  reader.File(kTaskDownload, Image());
  flow->DownloadProgress(u"", kTaskDownload, u"", 1, 2, u"x", u"y", 1);
  flow->DownloadComplete(u"", kTaskDownload, u"", "", {}, 0);
  flow->DownloadComplete(u"", kTaskCheck, u"", Document("3.0"), {}, 0);
  EXPECT_EQ(view.log.back(), "balloon 自动更新|用户取消下载更新！|3");
  EXPECT_EQ(std::pair(view.value, view.status),
            std::pair(0, std::u16string(u"用户取消下载更新！")));

  flow->OnPrimaryButton();
  reader.File(kTaskDownload, Image(), TransferFailure::kAccessDenied);  // no other address
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"拒绝访问。"));
  flow->OnPrimaryButton();
  reader.Body("", HttpStatusError(500));
  EXPECT_EQ(FileNameOf(Started()), u"setup2.bin.exe");
  reader.Body("", HttpStatusError(500));
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"下载文件出错！"));

  flow->OnPrimaryButton();  // every attempt starts from the first address again
  EXPECT_EQ(FileNameOf(Started()), u"setup.bin.exe");
  view.shellResult = {false, u"没有关联的程序"};  // the shell cannot open the package
  reader.File(kTaskDownload, Image());
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"无法打开更新文件！"));
  EXPECT_NE(view.log.back(), "close");
  flow->RestartCheck();  // the record's CheckUpdate: whatever runs, check anew
  EXPECT_EQ(Now(), State(Stage::Checking, kChecking));
  EXPECT_EQ(Started(), u"start 检查新版本 http://a.test/u.ini");
}

TEST_F(Flow, RefusedPackageNamesAndCutImagesFailTheirAddress) {
  Prepare();
  Start(1);
  // The first name climbs out of Update\; the second is a cut program image; the third is no
  // program, so its bytes are not checked.
  reader.Body(
      "[UpdateInfo]\r\nVersion=2.0\r\nMainExeName=Main.exe\r\nDownloadURL="
      "http://d.test/..\\..\\evil.exe|http://d.test/setup.exe|http://d.test/notes.txt\r\n");
  EXPECT_EQ(reader.log.size(), 3u);  // the refused address never reached the reader
  EXPECT_EQ(FileNameOf(Started()), u"setup.exe");
  const std::string image = Image();
  reader.File(kTaskDownload, image.substr(0, image.size() / 2));
  EXPECT_EQ(FileNameOf(Started()), u"notes.txt");
  EXPECT_TRUE(processes.terminated.empty());
  reader.File(kTaskDownload, "notes");
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(view.log.back(), "close");
}

TEST_F(Flow, HomePageOpensOnlyWebAddressesAndTheTrayMenuActs) {
  Start(0);
  info.SetHomeURL(u"file:///C:/x.exe");
  flow->OnHomePageButton();
  info.SetHomeURL(u"HTTPS://home.test/");
  flow->OnHomePageButton();
  flow->OnTrayShow();
  flow->OnTrayExit();
  flow->OnClose();
  flow->OnPrimaryButton();  // a closed window starts nothing
  flow->OnHomePageButton();
  EXPECT_EQ(Started(), u"");
  EXPECT_EQ(view.Tail(5), (Log{"balloon 示例|智能更新程序|1", "shell HTTPS://home.test/|0",
                               "restore", "untray close", "untray"}));
}

TEST_F(Flow, DocumentsThatCannotBeTrustedFailTheirAddressAndSaySo) {
  // A valid point (the curve's generator): nothing this test sends is signed by it.
  info.SetPinnedKeys(ParsePublicKeys(
      u"BGsX0fLhLEJH+Lzm5WOkQPJ3A32BLeszoPShOUXYmMKWT+NC4v4af5uO5+tKfA+eFivOM1drMV7Oy7ZAaDe/UfU="));
  Start(1, {u"a.test/u.ini", u"b.test/u.ini", u"c.test/u.ini"});
  reader.Body(Document("2.0"));  // unsigned
  reader.Body(Document("2.0", ("[Signature]\r\nP256=" + std::string(86, 'A') + "==\r\n").c_str()));
  reader.Body("", HttpStatusError(404));  // one address that answered badly is enough
  EXPECT_EQ(Now(), State(Stage::Idle, u"升级信息未通过验证！"));
  EXPECT_EQ(view.log.back(), "msgbox 升级信息未通过验证！| 提示：|0");
  flow->OnPrimaryButton();  // a new check forgets the refusal
  for (int i = 0; i < 3; ++i) reader.Body("", HttpStatusError(404));
  EXPECT_EQ(Now(), State(Stage::Idle, u"获取升级信息失败！"));

  Harness expired;  // no pinned key: an expired document is still refused
  expired.Start(1);
  expired.reader.Body(Document("2.0", "Expires=2001-01-01T00:00:00Z\r\n"));
  EXPECT_EQ(expired.Now(), State(Stage::Idle, u"升级信息未通过验证！"));
}

TEST_F(Flow, PackagesMustMatchTheirDocument) {
  const std::string image = Image();
  const Sha256Digest digest = *Sha256Of(image);
  std::string changed = image;
  changed[changed.size() / 2] ^= 1;
  Prepare();
  Start(1);
  reader.Body(Document("2.0", ("Size=" + std::to_string(image.size()) +
                               "\r\nSHA256=" + HexEncode(digest.data(), digest.size()) + "\r\n")
                                  .c_str()));
  EXPECT_TRUE(reader.hashing);
  reader.File(kTaskDownload, changed);
  EXPECT_EQ(FileNameOf(Started()), u"setup2.bin.exe");  // a mismatch fails its address
  reader.File(kTaskDownload, image + "x");              // so does a longer body
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"下载文件校验失败！"));
  EXPECT_EQ(view.log.back(), "msgbox 下载文件校验失败！|提示：|0");
  flow->OnPrimaryButton();
  reader.Body("", HttpStatusError(500));  // any other failure gives the plain message
  reader.File(kTaskDownload, changed);
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"下载文件出错！"));
  flow->OnPrimaryButton();
  reader.File(kTaskDownload, image);
  EXPECT_EQ(view.status, u"下载完成！");
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
}

}  // namespace
}  // namespace sealupdate
