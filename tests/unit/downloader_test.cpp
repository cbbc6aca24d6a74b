// The downloader: named tasks over the scripted reader, their events, and how file tasks end.
#include "download/downloader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "flow_fakes.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

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

// The rate in KB/S or MB/S with two decimals; the time left in hours that go on past a day. A
// drive's root is a whole save path; a client started from a share keeps the "\\" of its folder.
TEST(DownloaderText, RateTimeLeftAndSavePaths) {
  // Bytes read, total, whole seconds, then the texts.
  const std::tuple<double, double, std::int64_t, const char16_t*, const char16_t*> cases[] = {
      {10240, 20480, 10, u"1.00 KB/S", u"00:00:10"},
      {1024, 1024.0 * 700001, 1, u"1.00 KB/S", u"194:26:40"},     // about 8 days
      {1024, 1024.0 * 15724801, 1, u"1.00 KB/S", u"4368:00:00"},  // 182 days
      {3 << 20, 6 << 20, 1, u"3.00 MB/S", u"00:00:01"},
      {2048, 1024, 1, u"2.00 KB/S", u"00:00:00"},  // a total below the bytes read
      {0, 1024, 5, u"0.00 KB/S", u"-"},
      {512, 1024, 0, u"0.50 KB/S", u"00:00:00"},
  };
  for (const auto& [read, total, seconds, rate, left] : cases)
    EXPECT_EQ(Downloader::RateTexts(read, total, seconds),
              std::pair(std::u16string(rate), std::u16string(left)));
  const auto root = Downloader::NormalizeSavePath(u"D:\\", u"C:\\app"),
             share = Downloader::NormalizeSavePath(u"u\\\\x.exe", u"\\\\srv\\s\\app");
  EXPECT_EQ(root.folder + u"|" + root.path + u"|" + share.folder + u"|" + share.path,
            u"D:\\|D:\\|\\\\srv\\s\\app\\u\\|\\\\srv\\s\\app\\u\\x.exe");
}

// Every way a file task ends. A body left by an earlier run that fails its check is read afresh
// once; a fresh one that fails, or one refused otherwise, is deleted, never moved.
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

}  // namespace
}  // namespace sealupdate
