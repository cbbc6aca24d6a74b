#include "download/downloader.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>

#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

struct FakeFile final : DownloadedFile {
  FakeFile(std::uint64_t size, TransferError moveResult, std::vector<std::u16string>* log)
      : size_(size), moveResult_(moveResult), log_(log) {}
  ~FakeFile() override {
    if (!moved_) log_->push_back(u"discard");
  }
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t, void*, std::size_t) override { return false; }
  TransferError MoveTo(const std::u16string& savePath) override {
    log_->push_back(u"move " + savePath);
    moved_ = !moveResult_;
    return moveResult_;
  }
  std::uint64_t size_;
  TransferError moveResult_;
  std::vector<std::u16string>* log_;
  bool moved_ = false;
};

class ScriptedReader final : public UrlReader {
 public:
  void SetSink(UrlReaderSink* sink) override { sink_ = sink; }
  TransferError Start(const std::u16string& url, const std::u16string& key,
                      const std::u16string& savePath) override {
    log.push_back(u"start " + key + u" " + url + (savePath.empty() ? u"" : u" -> " + savePath));
    return startError;
  }
  bool Cancel(const std::u16string& key) override {
    log.push_back(u"cancel " + key);
    return true;
  }
  void Progress(const std::u16string& key, std::uint64_t read, std::uint64_t total) {
    sink_->OnReadProgress(key, read, total);
  }
  void Body(const std::u16string& key, std::string body, TransferError error = {}) {
    ReadResult result;
    result.error = error;
    result.body = std::move(body);
    sink_->OnReadComplete(key, std::move(result));
  }
  void File(const std::u16string& key, std::uint64_t size, TransferError moveResult = {}) {
    ReadResult result;
    result.file = std::make_unique<FakeFile>(size, moveResult, &log);
    sink_->OnReadComplete(key, std::move(result));
  }

  std::vector<std::u16string> log;
  TransferError startError;

 private:
  UrlReaderSink* sink_ = nullptr;
};

struct FixedClock final : Clock {
  std::int64_t NowSeconds() override { return now; }
  std::int64_t now = 1000;
};

// Runs one queued action per call, as if a message had been waiting.
struct ScriptedPump final : EventPump {
  void ProcessPendingEvents() override {
    ++calls;
    if (queue.empty()) return;
    auto action = std::move(queue.front());
    queue.pop_front();
    action();
  }
  std::deque<std::function<void()>> queue;
  int calls = 0;
};

std::u16string Num(double value) { return Utf8ToUtf16(std::to_string(static_cast<long>(value))); }

struct Recorder final : DownloaderEvents {
  void AddDownloadTask(const std::u16string& url, const std::u16string& name,
                       const std::u16string& path, std::int32_t count) override {
    log.push_back(u"add " + name + u" " + url + u" [" + path + u"] " + Num(count));
  }
  void DownloadProgress(const std::u16string&, const std::u16string& name, const std::u16string&,
                        double value, double max, const std::u16string& speed,
                        const std::u16string& residual, std::int32_t count) override {
    log.push_back(u"progress " + name + u" " + Num(value) + u"/" + Num(max) + u" " + speed + u" " +
                  residual + u" " + Num(count));
  }
  void DownloadComplete(const std::u16string&, const std::u16string& name,
                        const std::u16string& path, const std::string& bytes, TransferError err,
                        std::int32_t count) override {
    log.push_back(u"complete " + name + u" [" + path + u"] \"" + Utf8ToUtf16(bytes) + u"\" " +
                  Num(ErrorNumber(err)) + u" " + Num(count));
    if (onComplete) onComplete(name, err);
  }
  std::vector<std::u16string> log;
  std::function<void(const std::u16string&, TransferError)> onComplete;
};

using Log = std::vector<std::u16string>;

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("downloader_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    folder_ = Utf8ToUtf16(dir_.u8string());
    dl_.SetEvents(&events_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Log TakeEvents() { return std::exchange(events_.log, {}); }
  Log TakeReader() { return std::exchange(reader_.log, {}); }

  std::filesystem::path dir_;
  std::u16string folder_ = u"C:\\app";
  ScriptedReader reader_;
  FixedClock clock_;
  ScriptedPump pump_;
  Recorder events_;
  Downloader dl_{reader_, clock_, pump_, u"C:\\app"};
};

TEST_F(DownloaderTest, NamesAreUniqueIgnoringCaseAndFreedNamesComeBack) {
  EXPECT_EQ(dl_.BeginDownload(u"u1", u"Setup"), u"Setup");
  EXPECT_EQ(dl_.BeginDownload(u"u2", u"setup"), u"setup(1)");
  EXPECT_EQ(dl_.BeginDownload(u"u3"), u"DownloadTask");
  EXPECT_EQ(dl_.BeginDownload(u"u4", u""), u"DownloadTask(1)");
  EXPECT_EQ(dl_.BeginDownload(u"u5", u" x "), u" x ");  // the caller's spaces stay
  EXPECT_EQ(dl_.TaskCount(), 5);
  EXPECT_EQ(pump_.calls, 2);  // events were let through between the probes

  EXPECT_FALSE(dl_.RemoveTask(u"nothing"));
  EXPECT_EQ(dl_.TaskCount(), 5);
  reader_.Body(u"Setup", "ok");
  EXPECT_EQ(dl_.BeginDownload(u"u6", u"SETUP"), u"SETUP");  // freed by its completion

  dl_.RemoveAllTasks();
  EXPECT_EQ(dl_.TaskCount(), 0);
  EXPECT_EQ(dl_.BeginDownload(u"u7", u"setup"), u"setup");
  EXPECT_EQ(dl_.TaskCount(), 1);
}

TEST_F(DownloaderTest, EventsCarryTheCountsInOrder) {
  dl_.BeginDownload(u"http://h/a", u"A");
  dl_.BeginDownload(u"http://h/b", u"B");
  reader_.Progress(u"A", 10, 0);  // no size: no event
  clock_.now += 1;
  reader_.Progress(u"A", 0, 100);
  reader_.Body(u"A", "body-a");
  EXPECT_EQ(dl_.Body(), "body-a");
  reader_.Body(u"B", "", SystemError(12029));  // reader failure: the buffer keeps the previous body
  reader_.Body(u"B", "late");                  // dropped
  EXPECT_EQ(TakeEvents(), (Log{u"add A http://h/a [] 1", u"add B http://h/b [] 2",
                               u"progress A 0/100 0.00 KB/S - 2", u"complete A [] \"body-a\" 0 1",
                               u"complete B [] \"body-a\" 12029 0"}));
  EXPECT_EQ(TakeReader(),
            (Log{u"start A http://h/a", u"start B http://h/b", u"cancel A", u"cancel B"}));

  // After the last removal the list starts over: a task in the new slot 1 still reports.
  dl_.BeginDownload(u"http://h/c", u"C");
  reader_.Progress(u"C", 5, 10);
  EXPECT_EQ(TakeEvents(), (Log{u"add C http://h/c [] 1", u"progress C 5/10 0.00 KB/S 00:00:00 1"}));
}

TEST_F(DownloaderTest, CompletionHandlerStartsTheNextTaskUnderTheSameName) {
  int retries = 0;
  events_.onComplete = [&](const std::u16string& name, TransferError err) {
    if (err && retries++ == 0) {
      EXPECT_EQ(dl_.TaskCount(), 0);
      EXPECT_EQ(dl_.BeginDownload(u"mirror", name), name);
    }
  };
  dl_.BeginDownload(u"first", u"检查新版本");
  reader_.Body(u"检查新版本", "", HttpStatusError(404));
  EXPECT_EQ(dl_.TaskCount(), 1);
  reader_.Body(u"检查新版本", "doc");
  EXPECT_EQ(TakeEvents(),
            (Log{u"add 检查新版本 first [] 1", u"complete 检查新版本 [] \"\" 404 0",
                 u"add 检查新版本 mirror [] 1", u"complete 检查新版本 [] \"doc\" 0 0"}));
}

TEST_F(DownloaderTest, PendingEventsRunWhileANameIsProbed) {
  dl_.BeginDownload(u"a", u"T");
  dl_.BeginDownload(u"b", u"T(1)");
  dl_.BeginDownload(u"c", u"Other");
  // Between the probes the completions of "Other" and then of "T(1)" are waiting.
  pump_.queue.push_back([&] { reader_.Body(u"Other", "o"); });
  pump_.queue.push_back([&] { reader_.Body(u"T(1)", "t"); });
  EXPECT_EQ(dl_.BeginDownload(u"d", u"t"), u"t(2)");
  TakeReader();
  EXPECT_EQ(TakeEvents(), (Log{u"add T a [] 1", u"add T(1) b [] 2", u"add Other c [] 3",
                               u"complete Other [] \"o\" 0 2", u"complete T(1) [] \"t\" 0 1",
                               u"add t(2) d [] 2"}));
}

TEST_F(DownloaderTest, RemovedTasksEndSilently) {
  dl_.BeginDownload(u"a", u"A");
  dl_.BeginDownload(u"b", u"B");
  EXPECT_TRUE(dl_.RemoveTask(u"a"));  // any letter case; the read is cancelled by its key
  dl_.RemoveAllTasks();
  EXPECT_EQ(dl_.TaskCount(), 0);
  EXPECT_EQ(TakeReader(), (Log{u"start A a", u"start B b", u"cancel A", u"cancel B"}));
  reader_.Progress(u"A", 1, 2);
  reader_.Body(u"B", "late");
  reader_.File(u"B", 10);  // a late file is deleted, never moved
  EXPECT_EQ(TakeEvents(), (Log{u"add A a [] 1", u"add B b [] 2"}));
  EXPECT_EQ(TakeReader(), (Log{u"discard"}));
  EXPECT_EQ(dl_.Body(), "");
  EXPECT_EQ(dl_.BeginDownload(u"c", u"A"), u"A");
}

TEST(DownloaderText, RateAndRemainingTime) {
  struct Case {
    double read, total;
    std::int64_t elapsed;
    const char16_t* speed;
    const char16_t* residual;
  } cases[] = {
      {0, 100, 1, u"0.00 KB/S", u"-"},
      {2621440, 5242880, 2, u"1.25 MB/S", u"00:00:02"},
      {1024, 1024 + 1024.0 * 90000, 1, u"1.00 KB/S", u"01:00:00"},  // 25 h wrap
      {1048576, 2097152, 1, u"1024.00 KB/S", u"00:00:01"},          // exactly 1024 stays KB
      {128, 256, 1, u"0.13 KB/S", u"00:00:01"},                     // 0.125: half up
      {12800, 25600, 1, u"12.50 KB/S", u"00:00:01"},
      {3072, 4096, 3, u"1.00 KB/S", u"00:00:01"},
      {1024, 1024 + 1024 * 3599.5, 1, u"1.00 KB/S", u"01:00:00"},
      {2048, 4096, 0, u"2.00 KB/S", u"00:00:00"},   // under a second: bytes over one second
      {2048, 4096, -5, u"2.00 KB/S", u"00:00:00"},  // clock set back
  };
  for (const auto& c : cases) {
    const auto texts = Downloader::RateTexts(c.read, c.total, c.elapsed);
    EXPECT_EQ(texts.first, c.speed) << c.read << "/" << c.total << " in " << c.elapsed;
    EXPECT_EQ(texts.second, c.residual) << c.read << "/" << c.total << " in " << c.elapsed;
  }
}

TEST(DownloaderText, SavePathNormalisation) {
  const struct {
    const char16_t* in;
    const char16_t* folder;
    const char16_t* path;
  } cases[] = {
      {u"  ", u"", u""},
      {u" update\\a?b.exe ", u"C:\\app\\update\\", u"C:\\app\\update\\a_b.exe"},
      {u"\\update\\x.exe", u"C:\\app\\update\\", u"C:\\app\\update\\x.exe"},
      {u"D:\\dl\\\\new\\x.exe", u"D:\\dl\\new\\", u"D:\\dl\\new\\x.exe"},
      {u"D:\\a\\\\\\b.exe", u"D:\\a\\\\", u"D:\\a\\\\b.exe"},  // three become two
      {u"C:/dir/x.exe", u"C:\\app\\", u"C:\\app\\C__dir_x.exe"},
      {u"\\\\server\\share\\x.exe", u"C:\\app\\server\\share\\", u"C:\\app\\server\\share\\x.exe"},
      {u"sub\\", u"C:\\app\\sub\\", u"C:\\app\\sub\\"},
      {u"a*b|c\"d<e>.exe", u"C:\\app\\", u"C:\\app\\a_b_c_d<e>.exe"},
  };
  for (const auto& c : cases) {
    const auto target = Downloader::NormalizeSavePath(c.in, u"C:\\app");
    EXPECT_EQ(target.folder, c.folder) << Utf16ToUtf8(c.in);
    EXPECT_EQ(target.path, c.path) << Utf16ToUtf8(c.in);
  }
  EXPECT_EQ(Downloader::NormalizeSavePath(u"x.exe", u"C:\\").path, u"C:\\x.exe");
  EXPECT_EQ(Downloader::NormalizeSavePath(u"u\\\\x.exe", u"\\\\srv\\share\\app").path,
            u"\\\\srv\\share\\app\\u\\x.exe");
}

TEST_F(DownloaderTest, FileTasksAndTheirErrors) {
  Downloader dl(reader_, clock_, pump_, folder_);
  dl.SetEvents(&events_);
  const std::u16string update = folder_ + u"\\update\\";

  // The folder is created; the finished file is moved onto the save path.
  EXPECT_EQ(dl.BeginDownload(u"u", u"下载更新文件", u"update\\a?b.exe"), u"下载更新文件");
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "update"));
  reader_.File(u"下载更新文件", 5);
  dl.BeginDownload(u"u", u"held", u"update\\h.exe");
  reader_.File(u"held", 5, TransferFailure::kAccessDenied);
  dl.BeginDownload(u"u", u"empty", u"update\\e.exe");
  reader_.File(u"empty", 0);
  dl.BeginDownload(u"u", u"mem");
  reader_.Body(u"mem", "");
  EXPECT_EQ(TakeReader(),
            (Log{u"start 下载更新文件 u -> " + update + u"a_b.exe", u"move " + update + u"a_b.exe",
                 u"cancel 下载更新文件", u"start held u -> " + update + u"h.exe",
                 u"move " + update + u"h.exe", u"discard", u"cancel held",
                 u"start empty u -> " + update + u"e.exe", u"discard", u"cancel empty",
                 u"start mem u", u"cancel mem"}));

  // A folder blocked by a file: 71 before BeginDownload returns, with the caller's path.
  ASSERT_TRUE(WriteWholeFile(folder_ + u"\\block", "x"));
  EXPECT_EQ(dl.BeginDownload(u"u", u"blocked", u"block\\sub\\x.exe"), u"");
  // A reader that cannot start: its error, after the task was registered and removed.
  reader_.startError = SystemError(12005);
  EXPECT_EQ(dl.BeginDownload(u"bad", u"", u"y.exe"), u"");
  EXPECT_EQ(dl.TaskCount(), 0);
  EXPECT_EQ(TakeEvents(),
            (Log{u"add 下载更新文件 u [" + update + u"a_b.exe] 1",
                 u"complete 下载更新文件 [" + update + u"a_b.exe] \"\" 0 0",
                 u"add held u [" + update + u"h.exe] 1",
                 u"complete held [" + update + u"h.exe] \"\" 70 0",
                 u"add empty u [" + update + u"e.exe] 1",
                 u"complete empty [" + update + u"e.exe] \"\" 8001 0", u"add mem u [] 1",
                 u"complete mem [] \"\" 8001 0", u"complete blocked [block\\sub\\x.exe] \"\" 71 0",
                 u"complete DownloadTask [" + folder_ + u"\\y.exe] \"\" 12005 0"}));
  EXPECT_EQ(TakeReader(),
            (Log{u"start DownloadTask bad -> " + folder_ + u"\\y.exe", u"cancel DownloadTask"}));
}

TEST_F(DownloaderTest, ARefusedBodyIsDiscardedAndNeverMoved) {
  Downloader dl(reader_, clock_, pump_, folder_);
  dl.SetEvents(&events_);
  std::vector<std::u16string> checked;
  dl.SetBodyCheck([&](DownloadedFile& body, const std::u16string& savePath) {
    checked.push_back(savePath);
    return body.Size() == 5 ? TransferError() : TransferFailure::kIncompletePackage;
  });
  dl.BeginDownload(u"u", u"good", u"ok.exe");
  reader_.File(u"good", 5);
  dl.BeginDownload(u"u", u"bad", u"cut.exe");
  reader_.File(u"bad", 3);
  EXPECT_EQ(checked, (std::vector<std::u16string>{folder_ + u"\\ok.exe", folder_ + u"\\cut.exe"}));
  EXPECT_EQ(TakeReader(),
            (Log{u"start good u -> " + folder_ + u"\\ok.exe", u"move " + folder_ + u"\\ok.exe",
                 u"cancel good", u"start bad u -> " + folder_ + u"\\cut.exe", u"discard",
                 u"cancel bad"}));
  const Log events = TakeEvents();
  EXPECT_EQ(events.back(), u"complete bad [" + folder_ + u"\\cut.exe] \"\" 8022 0");
}

}  // namespace
}  // namespace sealupdate
