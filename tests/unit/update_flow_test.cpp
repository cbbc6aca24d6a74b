#include "window/update_flow.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/byte_reader.h"
#include "base/encoding.h"
#include "base/text.h"
#include "download/downloader.h"
#include "fake_process_table.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

using S = const std::u16string&;

std::u16string Num(double value) { return Utf8ToUtf16(std::to_string(std::int64_t(value))); }

// A finished temporary file holding `body`; its move gives `moveResult`.
struct FakeFile final : DownloadedFile {
  std::vector<std::u16string>* log;
  std::string body;
  TransferError moveResult;
  bool carried;  // continues a body an earlier run left
  std::optional<Sha256Digest> digest;
  bool moved = false;
  FakeFile(std::vector<std::u16string>* l, std::string b, TransferError m, bool c, bool hash)
      : log(l), body(std::move(b)), moveResult(m), carried(c) {
    if (hash) digest = Sha256Of(body);
  }
  ~FakeFile() override {
    if (!moved) log->push_back(u"discard");
  }
  bool CarriedOver() const override { return carried; }
  std::uint64_t Size() const override { return body.size(); }
  std::optional<Sha256Digest> Digest() const override { return digest; }
  bool ReadAt(std::uint64_t at, void* to, std::size_t n) override {
    return MemoryByteView(body).ReadAt(at, to, n);
  }
  TransferError MoveTo(S path) override {
    log->push_back(u"move " + path);
    return moved = !moveResult, moveResult;
  }
};

// The reader, clock, event pump and event sink of a downloader in one scripted object, logging
// into one list in the order things happen. Reads complete only when the test says so; the pump
// runs one queued action per call, as if a message had been waiting.
struct Rig final : UrlReader, Clock, EventPump, DownloaderEvents {
  std::vector<std::u16string> log;
  UrlReaderSink* sink = nullptr;
  TransferError startError;
  std::u16string lastKey;
  std::int64_t now = 1000;
  bool hashing = false;  // file bodies get their digest
  std::deque<std::function<void()>> queue;
  std::function<void(S, TransferError)> onComplete;

  void SetSink(UrlReaderSink* s) override { sink = s; }
  TransferError Start(S url, S key, S path) override {
    log.push_back(u"start " + key + u" " + url + (path.empty() ? u"" : u" -> " + path));
    return lastKey = key, startError;
  }
  bool Cancel(S key) override { return log.push_back(u"cancel " + key), true; }
  void SetHashFileBodies(bool on) override { hashing = on; }
  std::int64_t NowSeconds() override { return now; }
  void ProcessPendingEvents() override {
    if (queue.empty()) return;
    auto action = std::move(queue.front());
    queue.pop_front();
    action();
  }
  void AddDownloadTask(S url, S name, S path, std::int32_t n) override {
    log.push_back(u"add " + name + u" " + url + u" [" + path + u"] " + Num(n));
  }
  void DownloadProgress(S, S name, S, double read, double total, S rate, S left,
                        std::int32_t n) override {
    log.push_back(u"progress " + name + u" " + Num(read) + u"/" + Num(total) + u" " + rate + u" " +
                  left + u" " + Num(n));
  }
  void DownloadRetry(S, S name, S, std::int32_t retry, std::int32_t retries) override {
    log.push_back(u"retry " + name + u" " + Num(retry) + u"/" + Num(retries));
  }
  void DownloadComplete(S, S name, S path, const std::string& body, TransferError error,
                        std::int32_t n) override {
    log.push_back(u"complete " + name + u" [" + path + u"] \"" + Utf8ToUtf16(body) + u"\" " +
                  Num(ErrorNumber(error)) + u" " + Num(n));
    if (onComplete) onComplete(name, error);
  }

  // A memory read of the last read started, or of `key`.
  void Body(std::string body, TransferError error = {}, std::u16string key = {}) {
    sink->OnReadComplete(key.empty() ? lastKey : key, {error, std::move(body), nullptr});
  }
  void File(S key, std::string body, TransferError moveResult = {}, bool carried = false) {
    sink->OnReadComplete(
        key,
        {{}, {}, std::make_unique<FakeFile>(&log, std::move(body), moveResult, carried, hashing)});
  }
  // The log so far, one "; " after each entry, with `folder` written as "~".
  std::string Take(S folder = {}) {
    std::u16string all;
    for (const auto& line : std::exchange(log, {})) all += line + u"; ";
    return Utf16ToUtf8(ReplaceAll(all, folder, u"~"));
  }
};

struct DownloaderTest : ::testing::Test {
  void SetUp() override { dl.SetEvents(&rig); }
  Rig rig;
  std::u16string folder = ScratchFolder();
  Downloader dl{rig, rig, rig, folder};
};

// Progress counts only the current attempt's bytes over its time, against the real remaining
// length; results of removed tasks are dropped.
TEST_F(DownloaderTest, EventsCarryTheCountsInOrderAndRemovedTasksEndSilently) {
  dl.BeginDownload(u"http://h/a", u"A");
  dl.BeginDownload(u"http://h/b", u"B");
  rig.sink->OnReadProgress(u"A", 10, 0);  // no size: no event
  rig.now += 10;
  rig.sink->OnReadProgress(u"A", 40960, 102400);  // 4 KiB/s, 60 KiB left
  rig.sink->OnReadRetry(u"A", 1, 3, 40960);       // resumes at 40 KiB
  rig.now += 2;
  rig.sink->OnReadProgress(u"A", 61440, 102400);  // 20 KiB in 2 s, 40 KiB left
  rig.sink->OnReadRetry(u"A", 2, 3, 61440);       // announced a resume, got the whole body again
  rig.now += 1;
  rig.sink->OnReadProgress(u"A", 10240, 102400);
  rig.Body("body-a", {}, u"A");
  rig.Body("", SystemError(12029), u"B");  // a failure: the buffer keeps the previous body
  rig.Body("late", {}, u"B");              // dropped
  // After the last removal the list starts over: a task in the new slot 1 still reports.
  dl.BeginDownload(u"http://h/c", u"C");
  rig.sink->OnReadProgress(u"C", 5, 10);
  dl.BeginDownload(u"d", u"D");
  EXPECT_TRUE(dl.RemoveTask(u"c"));   // any letter case; the read is cancelled by its key
  EXPECT_FALSE(dl.RemoveTask(u"c"));  // gone
  dl.RemoveAllTasks();
  rig.sink->OnReadProgress(u"C", 1, 2);
  rig.Body("late", {}, u"D");
  rig.File(u"D", "late");  // a late file is deleted, never moved
  EXPECT_EQ(dl.Body(), "body-a");
  EXPECT_EQ(rig.Take(),
            "start A http://h/a; add A http://h/a [] 1; start B http://h/b; add B http://h/b [] 2; "
            "progress A 40960/102400 4.00 KB/S 00:00:15 2; retry A 1/3; "
            "progress A 61440/102400 10.00 KB/S 00:00:04 2; retry A 2/3; "
            "progress A 10240/102400 10.00 KB/S 00:00:09 2; cancel A; "
            "complete A [] \"body-a\" 0 1; cancel B; complete B [] \"body-a\" 12029 0; "
            "start C http://h/c; add C http://h/c [] 1; progress C 5/10 0.00 KB/S 00:00:00 1; "
            "start D d; add D d [] 2; cancel C; cancel D; discard; ");
}

TEST_F(DownloaderTest, HandlersMayStartTasksWhileANameIsProbedOrATaskCompletes) {
  rig.onComplete = [&](S name, TransferError error) {
    if (error) {
      EXPECT_EQ(dl.BeginDownload(u"mirror", name), name);  // under the same name
    }
  };
  dl.BeginDownload(u"first", u"检查新版本");
  rig.Body("", HttpStatusError(404));
  rig.Body("doc");
  dl.BeginDownload(u"a", u"T");
  dl.BeginDownload(u"b", u"T(1)");
  dl.BeginDownload(u"c", u"Other");
  // Between the probes the completions of "Other" and then of "T(1)" are waiting.
  rig.queue = {[&] { rig.Body("o", {}, u"Other"); }, [&] { rig.Body("t", {}, u"T(1)"); }};
  EXPECT_EQ(dl.BeginDownload(u"d", u"t"), u"t(2)");
  EXPECT_EQ(rig.Take(),
            "start 检查新版本 first; add 检查新版本 first [] 1; cancel 检查新版本; "
            "complete 检查新版本 [] \"\" 404 0; start 检查新版本 mirror; "
            "add 检查新版本 mirror [] 1; cancel 检查新版本; complete 检查新版本 [] \"doc\" 0 0; "
            "start T a; add T a [] 1; start T(1) b; add T(1) b [] 2; start Other c; "
            "add Other c [] 3; cancel Other; complete Other [] \"o\" 0 2; cancel T(1); "
            "complete T(1) [] \"t\" 0 1; start t(2) d; add t(2) d [] 2; ");
}

// A drive's root is a whole path; a client started from a share keeps the "\\" of its folder.
TEST(DownloaderText, SavePathNormalisation) {
  const auto root = Downloader::NormalizeSavePath(u"D:\\", u"C:\\app"),
             share = Downloader::NormalizeSavePath(u"u\\\\x.exe", u"\\\\srv\\s\\app");
  EXPECT_EQ(root.folder + u"|" + root.path + u"|" + share.folder + u"|" + share.path,
            u"D:\\|D:\\|\\\\srv\\s\\app\\u\\|\\\\srv\\s\\app\\u\\x.exe");
}

// Every way a file task ends. A body an earlier run left that fails its check is read afresh
// once; a fresh body that fails it, or one refused otherwise, is deleted and never moved.
TEST_F(DownloaderTest, FileTasksAndTheirErrors) {
  dl.SetBodyCheck([](DownloadedFile& body, S) {
    return body.Size() == 3 ? TransferFailure::kPackageMismatch : TransferError();
  });
  // The folder is created; the finished file is moved onto the save path.
  EXPECT_EQ(dl.BeginDownload(u"u", u"下载更新文件", u"update\\a?b.exe"), u"下载更新文件");
  EXPECT_TRUE(std::filesystem::is_directory(NativePath(folder + u"\\update")));
  rig.File(u"下载更新文件", "12345");
  dl.BeginDownload(u"u", u"held", u"update\\h.exe");
  rig.File(u"held", "12345", TransferFailure::kAccessDenied);
  dl.BeginDownload(u"u", u"cut", u"c.exe");
  rig.File(u"cut", "123");
  dl.BeginDownload(u"u", u"P", u"p.exe");
  rig.sink->OnReadRetry(u"P", 0, 3, 100);  // continues an earlier run's body: not a retry
  rig.File(u"P", "abc", {}, true);
  rig.File(u"P", "abc");
  dl.BeginDownload(u"u", u"empty", u"e.exe");
  rig.File(u"empty", "");
  dl.BeginDownload(u"u", u"mem");
  rig.Body("");
  // A folder blocked by a file: 71 before BeginDownload returns, with the caller's path.
  ASSERT_TRUE(WriteWholeFile(folder + u"\\block", "x"));
  EXPECT_EQ(dl.BeginDownload(u"u", u"blocked", u"block\\sub\\x.exe"), u"");
  // A reader that cannot start: its error, after the task was registered and removed.
  rig.startError = SystemError(12005);
  EXPECT_EQ(dl.BeginDownload(u"bad", u"", u"y.exe"), u"");
  EXPECT_EQ(
      rig.Take(folder),
      "start 下载更新文件 u -> ~\\update\\a_b.exe; add 下载更新文件 u [~\\update\\a_b.exe] 1; "
      "move ~\\update\\a_b.exe; cancel 下载更新文件; "
      "complete 下载更新文件 [~\\update\\a_b.exe] \"\" 0 0; "
      "start held u -> ~\\update\\h.exe; add held u [~\\update\\h.exe] 1; "
      "move ~\\update\\h.exe; discard; cancel held; complete held [~\\update\\h.exe] \"\" 70 0; "
      "start cut u -> ~\\c.exe; add cut u [~\\c.exe] 1; discard; cancel cut; "
      "complete cut [~\\c.exe] \"\" 8023 0; "
      "start P u -> ~\\p.exe; add P u [~\\p.exe] 1; discard; start P u -> ~\\p.exe; discard; "
      "cancel P; complete P [~\\p.exe] \"\" 8023 0; "
      "start empty u -> ~\\e.exe; add empty u [~\\e.exe] 1; discard; cancel empty; "
      "complete empty [~\\e.exe] \"\" 8001 0; "
      "start mem u; add mem u [] 1; cancel mem; complete mem [] \"\" 8001 0; "
      "complete blocked [block\\sub\\x.exe] \"\" 71 0; "
      "start DownloadTask bad -> ~\\y.exe; cancel DownloadTask; "
      "complete DownloadTask [~\\y.exe] \"\" 12005 0; ");
}

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

std::string Document(const char* version, const std::string& extra = "") {
  return std::string("[UpdateInfo]\r\nVersion=") + version +
         "\r\nDownloadURL=http://d.test/one/setup.bin|http://d.test/two/setup2.bin\r\n"
         "ModifySuffix=.exe\r\nMainExeName=Main.exe\r\n" +
         extra;
}

std::string Image() {
  return ReadWholeFile(FolderOf(GetOwnExePath()) + u"\\pe_fixtures\\en_app.exe").value_or("");
}

using State = std::pair<Stage, std::u16string>;

struct Flow : ::testing::Test {
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

TEST_F(Flow, Mode1WholeUpdateWithFallbacks) {
  Prepare();
  Start(1, {u"a.test/u.ini", u"b.test/u.ini", u"c.test/u.ini", u"d.test/u.ini"});
  EXPECT_EQ(view.log, (Log{"centre", "icon", "tray", "balloon 示例|智能更新程序|1",
                           "balloon 自动更新|正在检查新版本...|1"}));
  reader.Body("", HttpStatusError(404));
  reader.Body("<html>Sign in to the network</html>");              // no document
  EXPECT_EQ(Now(), State(Stage::Checking, u"正在检查新版本..."));  // retries are silent
  // A first address whose name would climb out of Update\ never reaches the reader.
  std::string document = Document("2.0", "UpdateText=   \r\n");
  reader.Body(document.insert(document.find("http://d"), "http://d.test/..\\..\\evil.exe|"));
  EXPECT_EQ(view.notes, u"configured");  // a blank text keeps the configured one
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

  reader.File(kTaskDownload, Image().substr(0, 5000));  // a cut program fails its address
  EXPECT_EQ(FileNameOf(Started()), u"setup2.bin.exe");
  reader.File(kTaskDownload, Image());
  EXPECT_EQ(Now(), State(Stage::Idle, u"下载完成！"));
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
  EXPECT_EQ(
      view.Tail(3),
      (Log{"msgbox 更新文件下载完毕！单击 [确定] 重启程序。|下载完成：|0",
           "shell " + Utf16ToUtf8(ReplaceAll(package, u"setup.", u"setup2.")) + "|1", "close"}));
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
  // Late news of the cancelled read, and news of no read at all, are ignored.
  flow->DownloadProgress(u"", kTaskDownload, u"", 1, 2, u"x", u"y", 1);
  flow->DownloadComplete(u"", kTaskDownload, u"", "", {}, 0);
  flow->DownloadComplete(u"", kTaskCheck, u"", Document("3.0"), {}, 0);
  EXPECT_EQ(view.log.back(), "balloon 自动更新|用户取消下载更新！|3");
  EXPECT_EQ(std::pair(view.value, view.status),
            std::pair(0, std::u16string(u"用户取消下载更新！")));

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
  installed = u"2.0";
  reader.Body(Document("2.0"));
  EXPECT_EQ(view.Tail(2), (Log{"msgbox 已是最新！无需更新！|提示：|0", "close"}));
}

TEST_F(Flow, PackagesMustMatchTheirDocument) {
  const std::string image = Image();
  std::string changed = image;
  changed[changed.size() / 2] ^= 1;
  Prepare();
  Start(1);
  reader.Body(Document("2.0", "Size=" + std::to_string(image.size()) +
                                  "\r\nSHA256=" + HexEncode(Sha256Of(image)->data(), 32) + "\r\n"));
  reader.File(kTaskDownload, changed);
  EXPECT_EQ(FileNameOf(Started()), u"setup2.bin.exe");  // a mismatch fails its address
  reader.File(kTaskDownload, image + "x");              // so does a longer body
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"下载文件校验失败！"));
  flow->OnPrimaryButton();
  reader.Body("", HttpStatusError(500));  // any other failure gives the plain message
  reader.File(kTaskDownload, changed);
  EXPECT_EQ(Now(), State(Stage::UpdateOffered, u"下载文件出错！"));
  flow->OnPrimaryButton();
  reader.File(kTaskDownload, image);
  EXPECT_EQ(view.status, u"下载完成！");
  EXPECT_EQ(processes.terminated, std::vector<std::uint32_t>{7});
}

// The document names the home page: only a web address may reach the shell, and a closed
// window opens nothing.
TEST_F(Flow, HomePageOpensOnlyWebAddresses) {
  Start(0);
  for (const char16_t* url : {u"C:\\Windows\\notepad.exe", u"file:///C:/x.exe", u"\\\\host\\x",
                              u"javascript:alert(1)", u"HTTPS://home.test/"}) {
    info.SetHomeURL(url);
    flow->OnHomePageButton();
  }
  flow->OnClose();
  flow->OnHomePageButton();
  Log shell;
  for (const std::string& entry : view.log) {
    if (entry.rfind("shell", 0) == 0) shell.push_back(entry);
  }
  EXPECT_EQ(shell, Log{"shell HTTPS://home.test/|0"});
}

}  // namespace
}  // namespace sealupdate
