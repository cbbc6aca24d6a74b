#include "download/downloader.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <functional>

#include "base/text.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

using Log = std::vector<std::u16string>;

std::u16string Num(double value) { return Utf8ToUtf16(std::to_string(static_cast<long>(value))); }

// The reader, clock, event pump and event sink of a downloader, logging into one list in the
// order things happen. The pump runs one queued action per call, as if a message had waited.
struct Rig final : UrlReader, Clock, EventPump, DownloaderEvents {
  Log log;
  UrlReaderSink* sink = nullptr;
  TransferError startError;
  std::int64_t now = 1000;
  int pumped = 0;
  std::deque<std::function<void()>> queue;
  std::function<void(const std::u16string&, TransferError)> onComplete;

  void SetSink(UrlReaderSink* s) override { sink = s; }
  TransferError Start(const std::u16string& url, const std::u16string& key,
                      const std::u16string& savePath) override {
    log.push_back(u"start " + key + u" " + url + (savePath.empty() ? u"" : u" -> " + savePath));
    return startError;
  }
  bool Cancel(const std::u16string& key) override { return log.push_back(u"cancel " + key), true; }
  std::int64_t NowSeconds() override { return now; }
  void ProcessPendingEvents() override {
    ++pumped;
    if (queue.empty()) return;
    auto action = std::move(queue.front());
    queue.pop_front();
    action();
  }
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

  void Body(const std::u16string& key, std::string body, TransferError error = {}) {
    ReadResult result;
    result.error = error;
    result.body = std::move(body);
    sink->OnReadComplete(key, std::move(result));
  }
  // A finished temporary file of `size` bytes whose move gives `moveResult`.
  void File(const std::u16string& key, std::uint64_t size, TransferError moveResult = {}) {
    struct Fake final : DownloadedFile {
      Log* log;
      std::uint64_t size;
      TransferError moveResult;
      bool moved = false;
      Fake(Log* l, std::uint64_t s, TransferError m) : log(l), size(s), moveResult(m) {}
      ~Fake() override {
        if (!moved) log->push_back(u"discard");
      }
      std::uint64_t Size() const override { return size; }
      bool ReadAt(std::uint64_t, void*, std::size_t) override { return false; }
      TransferError MoveTo(const std::u16string& path) override {
        log->push_back(u"move " + path);
        moved = !moveResult;
        return moveResult;
      }
    };
    ReadResult result;
    result.file = std::make_unique<Fake>(&log, size, moveResult);
    sink->OnReadComplete(key, std::move(result));
  }
  Log Take() { return std::exchange(log, {}); }
};

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override { dl.SetEvents(&rig); }
  Rig rig;
  Downloader dl{rig, rig, rig, u"C:\\app"};
};

TEST_F(DownloaderTest, NamesAreUniqueIgnoringCaseAndFreedNamesComeBack) {
  EXPECT_EQ(dl.BeginDownload(u"u1", u"Setup"), u"Setup");
  EXPECT_EQ(dl.BeginDownload(u"u2", u"setup"), u"setup(1)");
  EXPECT_EQ(dl.BeginDownload(u"u3"), u"DownloadTask");
  EXPECT_EQ(dl.BeginDownload(u"u4", u""), u"DownloadTask(1)");
  EXPECT_EQ(dl.BeginDownload(u"u5", u" x "), u" x ");  // the caller's spaces stay
  EXPECT_EQ(dl.TaskCount(), 5);
  EXPECT_EQ(rig.pumped, 2);  // events were let through between the probes
  EXPECT_FALSE(dl.RemoveTask(u"nothing"));
  rig.Body(u"Setup", "ok");
  EXPECT_EQ(dl.BeginDownload(u"u6", u"SETUP"), u"SETUP");  // freed by its completion
  dl.RemoveAllTasks();
  EXPECT_EQ(dl.TaskCount(), 0);
  EXPECT_EQ(dl.BeginDownload(u"u7", u"setup"), u"setup");
  EXPECT_EQ(dl.TaskCount(), 1);
}

TEST_F(DownloaderTest, EventsCarryTheCountsInOrderAndRemovedTasksEndSilently) {
  dl.BeginDownload(u"http://h/a", u"A");
  dl.BeginDownload(u"http://h/b", u"B");
  rig.sink->OnReadProgress(u"A", 10, 0);  // no size: no event
  rig.now += 1;
  rig.sink->OnReadProgress(u"A", 0, 100);
  rig.Body(u"A", "body-a");
  EXPECT_EQ(dl.Body(), "body-a");
  rig.Body(u"B", "", SystemError(12029));  // a failure: the buffer keeps the previous body
  rig.Body(u"B", "late");                  // dropped
  // After the last removal the list starts over: a task in the new slot 1 still reports.
  dl.BeginDownload(u"http://h/c", u"C");
  rig.sink->OnReadProgress(u"C", 5, 10);
  EXPECT_EQ(rig.Take(), (Log{u"start A http://h/a", u"add A http://h/a [] 1", u"start B http://h/b",
                             u"add B http://h/b [] 2", u"progress A 0/100 0.00 KB/S - 2",
                             u"cancel A", u"complete A [] \"body-a\" 0 1", u"cancel B",
                             u"complete B [] \"body-a\" 12029 0", u"start C http://h/c",
                             u"add C http://h/c [] 1", u"progress C 5/10 0.00 KB/S 00:00:00 1"}));

  dl.BeginDownload(u"d", u"D");
  EXPECT_TRUE(dl.RemoveTask(u"c"));  // any letter case; the read is cancelled by its key
  dl.RemoveAllTasks();
  rig.sink->OnReadProgress(u"C", 1, 2);
  rig.Body(u"D", "late");
  rig.File(u"D", 10);  // a late file is deleted, never moved
  EXPECT_EQ(rig.Take(), (Log{u"start D d", u"add D d [] 2", u"cancel C", u"cancel D", u"discard"}));
  EXPECT_EQ(dl.Body(), "body-a");
}

TEST_F(DownloaderTest, HandlersMayStartTasksWhileANameIsProbedOrATaskCompletes) {
  int retries = 0;
  rig.onComplete = [&](const std::u16string& name, TransferError err) {
    if (err && retries++ == 0) {
      EXPECT_EQ(dl.BeginDownload(u"mirror", name), name);
    }
  };
  dl.BeginDownload(u"first", u"检查新版本");
  rig.Body(u"检查新版本", "", HttpStatusError(404));
  EXPECT_EQ(dl.TaskCount(), 1);
  rig.Body(u"检查新版本", "doc");
  dl.BeginDownload(u"a", u"T");
  dl.BeginDownload(u"b", u"T(1)");
  dl.BeginDownload(u"c", u"Other");
  // Between the probes the completions of "Other" and then of "T(1)" are waiting.
  rig.queue.push_back([&] { rig.Body(u"Other", "o"); });
  rig.queue.push_back([&] { rig.Body(u"T(1)", "t"); });
  EXPECT_EQ(dl.BeginDownload(u"d", u"t"), u"t(2)");
  EXPECT_EQ(rig.Take(), (Log{u"start 检查新版本 first",
                             u"add 检查新版本 first [] 1",
                             u"cancel 检查新版本",
                             u"complete 检查新版本 [] \"\" 404 0",
                             u"start 检查新版本 mirror",
                             u"add 检查新版本 mirror [] 1",
                             u"cancel 检查新版本",
                             u"complete 检查新版本 [] \"doc\" 0 0",
                             u"start T a",
                             u"add T a [] 1",
                             u"start T(1) b",
                             u"add T(1) b [] 2",
                             u"start Other c",
                             u"add Other c [] 3",
                             u"cancel Other",
                             u"complete Other [] \"o\" 0 2",
                             u"cancel T(1)",
                             u"complete T(1) [] \"t\" 0 1",
                             u"start t(2) d",
                             u"add t(2) d [] 2"}));
}

TEST(DownloaderText, RateAndRemainingTime) {
  const std::tuple<double, double, std::int64_t, const char16_t*, const char16_t*> cases[] = {
      {0, 100, 1, u"0.00 KB/S", u"-"},
      {2621440, 5242880, 2, u"1.25 MB/S", u"00:00:02"},
      {1024, 1024 + 1024.0 * 90000, 1, u"1.00 KB/S", u"01:00:00"},  // 25 h wrap
      {1048576, 2097152, 1, u"1024.00 KB/S", u"00:00:01"},          // exactly 1024 stays KB
      {128, 256, 1, u"0.13 KB/S", u"00:00:01"},                     // 0.125: half up
      {3072, 4096, 3, u"1.00 KB/S", u"00:00:01"},
      {1024, 1024 + 1024 * 3599.5, 1, u"1.00 KB/S", u"01:00:00"},
      {2048, 4096, 0, u"2.00 KB/S", u"00:00:00"},   // under a second: bytes over one second
      {2048, 4096, -5, u"2.00 KB/S", u"00:00:00"},  // clock set back
  };
  for (const auto& [read, total, elapsed, speed, residual] : cases) {
    EXPECT_EQ(Downloader::RateTexts(read, total, elapsed),
              (std::pair<std::u16string, std::u16string>(speed, residual)))
        << read << "/" << total << " in " << elapsed;
  }
}

TEST(DownloaderText, SavePathNormalisation) {
  const std::tuple<const char16_t*, const char16_t*, const char16_t*, const char16_t*> cases[] = {
      {u"  ", u"C:\\app", u"", u""},
      {u" update\\a?b.exe ", u"C:\\app", u"C:\\app\\update\\", u"C:\\app\\update\\a_b.exe"},
      {u"\\update\\x.exe", u"C:\\app", u"C:\\app\\update\\", u"C:\\app\\update\\x.exe"},
      {u"D:\\dl\\\\new\\x.exe", u"C:\\app", u"D:\\dl\\new\\", u"D:\\dl\\new\\x.exe"},
      {u"D:\\a\\\\\\b.exe", u"C:\\app", u"D:\\a\\\\", u"D:\\a\\\\b.exe"},  // three become two
      {u"C:/dir/x.exe", u"C:\\app", u"C:\\app\\", u"C:\\app\\C__dir_x.exe"},
      {u"\\\\srv\\s\\x.exe", u"C:\\app", u"C:\\app\\srv\\s\\", u"C:\\app\\srv\\s\\x.exe"},
      {u"sub\\", u"C:\\app", u"C:\\app\\sub\\", u"C:\\app\\sub\\"},
      {u"a*b|c\"d<e>.exe", u"C:\\app", u"C:\\app\\", u"C:\\app\\a_b_c_d<e>.exe"},
      {u"x.exe", u"C:\\", u"C:\\", u"C:\\x.exe"},
      {u"u\\\\x.exe", u"\\\\srv\\s\\app", u"\\\\srv\\s\\app\\u\\", u"\\\\srv\\s\\app\\u\\x.exe"},
  };
  for (const auto& [in, client, folder, path] : cases) {
    const auto target = Downloader::NormalizeSavePath(in, client);
    EXPECT_EQ(target.folder + u"|" + target.path, std::u16string(folder) + u"|" + path)
        << Utf16ToUtf8(in);
  }
}

TEST_F(DownloaderTest, FileTasksAndTheirErrors) {
  const std::u16string folder = ScratchFolder(), up = folder + u"\\update\\";
  Downloader dl(rig, rig, rig, folder);
  dl.SetEvents(&rig);
  std::vector<std::u16string> checked;
  dl.SetBodyCheck([&](DownloadedFile& body, const std::u16string& savePath) {
    checked.push_back(savePath);
    return body.Size() == 3 ? TransferFailure::kIncompletePackage : TransferError();
  });
  // The folder is created; the finished file is moved onto the save path.
  EXPECT_EQ(dl.BeginDownload(u"u", u"下载更新文件", u"update\\a?b.exe"), u"下载更新文件");
  EXPECT_TRUE(std::filesystem::is_directory(NativePath(up)));
  rig.File(u"下载更新文件", 5);
  dl.BeginDownload(u"u", u"held", u"update\\h.exe");
  rig.File(u"held", 5, TransferFailure::kAccessDenied);
  dl.BeginDownload(u"u", u"cut", u"update\\c.exe");
  rig.File(u"cut", 3);  // refused by the check: discarded, never moved
  dl.BeginDownload(u"u", u"empty", u"update\\e.exe");
  rig.File(u"empty", 0);
  dl.BeginDownload(u"u", u"mem");
  rig.Body(u"mem", "");
  EXPECT_EQ(checked, (Log{up + u"a_b.exe", up + u"h.exe", up + u"c.exe"}));
  // A folder blocked by a file: 71 before BeginDownload returns, with the caller's path.
  ASSERT_TRUE(WriteWholeFile(folder + u"\\block", "x"));
  EXPECT_EQ(dl.BeginDownload(u"u", u"blocked", u"block\\sub\\x.exe"), u"");
  // A reader that cannot start: its error, after the task was registered and removed.
  rig.startError = SystemError(12005);
  EXPECT_EQ(dl.BeginDownload(u"bad", u"", u"y.exe"), u"");
  EXPECT_EQ(dl.TaskCount(), 0);
  EXPECT_EQ(rig.Take(), (Log{u"start 下载更新文件 u -> " + up + u"a_b.exe",
                             u"add 下载更新文件 u [" + up + u"a_b.exe] 1",
                             u"move " + up + u"a_b.exe",
                             u"cancel 下载更新文件",
                             u"complete 下载更新文件 [" + up + u"a_b.exe] \"\" 0 0",
                             u"start held u -> " + up + u"h.exe",
                             u"add held u [" + up + u"h.exe] 1",
                             u"move " + up + u"h.exe",
                             u"discard",
                             u"cancel held",
                             u"complete held [" + up + u"h.exe] \"\" 70 0",
                             u"start cut u -> " + up + u"c.exe",
                             u"add cut u [" + up + u"c.exe] 1",
                             u"discard",
                             u"cancel cut",
                             u"complete cut [" + up + u"c.exe] \"\" 8022 0",
                             u"start empty u -> " + up + u"e.exe",
                             u"add empty u [" + up + u"e.exe] 1",
                             u"discard",
                             u"cancel empty",
                             u"complete empty [" + up + u"e.exe] \"\" 8001 0",
                             u"start mem u",
                             u"add mem u [] 1",
                             u"cancel mem",
                             u"complete mem [] \"\" 8001 0",
                             u"complete blocked [block\\sub\\x.exe] \"\" 71 0",
                             u"start DownloadTask bad -> " + folder + u"\\y.exe",
                             u"cancel DownloadTask",
                             u"complete DownloadTask [" + folder + u"\\y.exe] \"\" 12005 0"}));
}

}  // namespace
}  // namespace sealupdate
