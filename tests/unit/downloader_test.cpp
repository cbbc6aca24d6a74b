#include "download/downloader.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "fake_reader.h"
#include "platform/files.h"
#include "scratch.h"

namespace sealupdate {
namespace {

class DownloaderTest : public ::testing::Test {
 protected:
  void SetUp() override { dl.SetEvents(&rig); }
  Rig rig;
  Downloader dl{rig, rig, rig, u"C:\\app"};
};

TEST_F(DownloaderTest, NamesAreUniqueIgnoringCaseAndFreedNamesComeBack) {
  for (const auto& [task, name] : {std::pair(u"Setup", u"Setup"),
                                   {u"setup", u"setup(1)"},
                                   {u"", u"DownloadTask"},
                                   {u"", u"DownloadTask(1)"},
                                   {u" x ", u" x "}})  // the caller's spaces stay
    EXPECT_EQ(dl.BeginDownload(u"u", task), name);
  EXPECT_EQ(std::pair(dl.TaskCount(), rig.pumped), std::pair(5, 2));  // events ran between probes
  EXPECT_FALSE(dl.RemoveTask(u"nothing"));
  rig.Body("ok", {}, u"Setup");
  EXPECT_EQ(dl.BeginDownload(u"u", u"SETUP"), u"SETUP");  // freed by its completion
  dl.RemoveAllTasks();
  EXPECT_EQ(dl.BeginDownload(u"u", u"setup"), u"setup");
  EXPECT_EQ(dl.TaskCount(), 1);
}

TEST_F(DownloaderTest, EventsCarryTheCountsInOrderAndRemovedTasksEndSilently) {
  dl.BeginDownload(u"http://h/a", u"A");
  dl.BeginDownload(u"http://h/b", u"B");
  rig.sink->OnReadProgress(u"A", 10, 0);  // no size: no event
  rig.now += 1;
  rig.sink->OnReadProgress(u"A", 0, 100);
  rig.Body("body-a", {}, u"A");
  EXPECT_EQ(dl.Body(), "body-a");
  rig.Body("", SystemError(12029), u"B");  // a failure: the buffer keeps the previous body
  rig.Body("late", {}, u"B");              // dropped
  // After the last removal the list starts over: a task in the new slot 1 still reports.
  dl.BeginDownload(u"http://h/c", u"C");
  rig.sink->OnReadProgress(u"C", 5, 10);
  dl.BeginDownload(u"d", u"D");
  EXPECT_TRUE(dl.RemoveTask(u"c"));  // any letter case; the read is cancelled by its key
  dl.RemoveAllTasks();
  rig.sink->OnReadProgress(u"C", 1, 2);
  rig.Body("late", {}, u"D");
  rig.File(u"D", "late");  // a late file is deleted, never moved
  EXPECT_EQ(dl.Body(), "body-a");
  EXPECT_EQ(rig.Take(),
            (Log16{u"start A http://h/a", u"add A http://h/a [] 1", u"start B http://h/b",
                   u"add B http://h/b [] 2", u"progress A 0/100 0.00 KB/S - 2", u"cancel A",
                   u"complete A [] \"body-a\" 0 1", u"cancel B",
                   u"complete B [] \"body-a\" 12029 0", u"start C http://h/c",
                   u"add C http://h/c [] 1", u"progress C 5/10 0.00 KB/S 00:00:00 1", u"start D d",
                   u"add D d [] 2", u"cancel C", u"cancel D", u"discard"}));
}

TEST_F(DownloaderTest, RetriesAreAnnouncedAndTheRateCountsOnlyTheCurrentAttempt) {
  dl.BeginDownload(u"http://h/p", u"P");
  rig.now += 10;
  rig.sink->OnReadProgress(u"P", 40960, 102400);  // 4 KiB/s, 60 KiB left
  rig.sink->OnReadRetry(u"P", 1, 3, 40960);       // resumes at 40 KiB
  rig.now += 2;
  rig.sink->OnReadProgress(u"P", 61440, 102400);  // 20 KiB in 2 s, 40 KiB left
  rig.sink->OnReadRetry(u"P", 2, 3, 0);           // starts over
  rig.now += 1;
  rig.sink->OnReadProgress(u"P", 10240, 102400);
  rig.sink->OnReadRetry(u"P", 3, 3, 61440);  // announced a resume, got the whole body again
  rig.now += 2;
  rig.sink->OnReadProgress(u"P", 20480, 102400);
  rig.sink->OnReadRetry(u"Q", 1, 3, 0);  // no such task
  EXPECT_EQ(rig.Take(), (Log16{u"start P http://h/p", u"add P http://h/p [] 1",
                               u"progress P 40960/102400 4.00 KB/S 00:00:15 1", u"retry P 1/3",
                               u"progress P 61440/102400 10.00 KB/S 00:00:04 1", u"retry P 2/3",
                               u"progress P 10240/102400 10.00 KB/S 00:00:09 1", u"retry P 3/3",
                               u"progress P 20480/102400 10.00 KB/S 00:00:08 1"}));
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
  EXPECT_EQ(rig.Take(), (Log16{u"start 检查新版本 first",
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
  const std::tuple<double, double, std::int64_t, const char*> cases[] = {
      {0, 100, 1, "0.00 KB/S -"},
      {2621440, 5242880, 2, "1.25 MB/S 00:00:02"},
      {1024, 1024 + 1024.0 * 90000, 1, "1.00 KB/S 01:00:00"},  // 25 h wrap
      {1048576, 2097152, 1, "1024.00 KB/S 00:00:01"},          // exactly 1024 stays KB
      {128, 256, 1, "0.13 KB/S 00:00:01"},                     // 0.125: half up
      {3072, 4096, 3, "1.00 KB/S 00:00:01"},
      {1024, 1024, 1, "1.00 KB/S 00:00:00"},  // nothing left: no wrap to a whole day
      {1024, 1024 + 1024 * 3599.5, 1, "1.00 KB/S 01:00:00"},
      {2048, 4096, 0, "2.00 KB/S 00:00:00"},   // under a second: bytes over one second
      {2048, 4096, -5, "2.00 KB/S 00:00:00"},  // clock set back
      {1048576, 4096, 0, "1024.00 KB/S 00:00:00"},
      {2097152, 4096, 0, "2.00 MB/S 00:00:00"},
  };
  for (const auto& [read, total, elapsed, texts] : cases) {
    const auto [rate, left] = Downloader::RateTexts(read, total, elapsed);
    EXPECT_EQ(Utf16ToUtf8(rate + u" " + left), texts) << read << "/" << total << " in " << elapsed;
  }
}

TEST(DownloaderText, SavePathNormalisation) {
  const std::tuple<const char16_t*, const char16_t*, const char16_t*> cases[] = {
      {u"  ", u"C:\\app", u"|"},
      {u" update\\a?b.exe ", u"C:\\app", u"C:\\app\\update\\|a_b.exe"},
      {u"\\update\\x.exe", u"C:\\app", u"C:\\app\\update\\|x.exe"},
      {u"D:\\dl\\\\new\\x.exe", u"C:\\app", u"D:\\dl\\new\\|x.exe"},
      {u"D:\\a\\\\\\b.exe", u"C:\\app", u"D:\\a\\\\|b.exe"},  // three become two
      {u"C:/dir/x.exe", u"C:\\app", u"C:\\app\\|C__dir_x.exe"},
      {u"\\\\srv\\s\\x.exe", u"C:\\app", u"\\\\srv\\s\\|x.exe"},  // a share is a whole path
      {u"sub\\", u"C:\\app", u"C:\\app\\sub\\|"},
      {u"a*b|c\"d<e>.exe", u"C:\\app", u"C:\\app\\|a_b_c_d<e>.exe"},
      {u"x.exe", u"C:\\", u"C:\\|x.exe"},
      {u"D:\\", u"C:\\app", u"D:\\|"},
      {u"u\\\\x.exe", u"\\\\srv\\s\\app", u"\\\\srv\\s\\app\\u\\|x.exe"},
      // The record's save path of a client started from a share.
      {u"\\\\srv\\s\\app\\Update\\x.exe", u"\\\\srv\\s\\app", u"\\\\srv\\s\\app\\Update\\|x.exe"},
  };
  for (const auto& [in, client, expected] : cases) {
    const auto target = Downloader::NormalizeSavePath(in, client);
    EXPECT_EQ(target.path.substr(0, target.folder.size()), target.folder);
    EXPECT_EQ(target.folder + u"|" + target.path.substr(target.folder.size()), expected)
        << Utf16ToUtf8(in);
  }
}

TEST_F(DownloaderTest, ABodyCarriedOverThatFailsItsCheckIsReadAfreshOnce) {
  const std::u16string folder = ScratchFolder();
  Downloader dl(rig, rig, rig, folder);
  dl.SetEvents(&rig);
  dl.SetBodyCheck([](DownloadedFile& body, S) {
    return body.Size() == 3 ? TransferError(TransferFailure::kPackageMismatch) : TransferError();
  });
  dl.BeginDownload(u"u", u"P", u"p.exe");
  rig.sink->OnReadRetry(u"P", 0, 3, 100);  // continues an earlier run's body: not a retry
  rig.File(u"P", "abc", {}, true);
  rig.File(u"P", "abc");  // the fresh read fails its check too: final
  Log16 log = rig.Take();
  for (auto& line : log) line = ReplaceAll(line, folder, u"~");
  EXPECT_EQ(log, (Log16{u"start P u -> ~\\p.exe", u"add P u [~\\p.exe] 1", u"discard",
                        u"start P u -> ~\\p.exe", u"discard", u"cancel P",
                        u"complete P [~\\p.exe] \"\" 8023 0"}));
}

TEST_F(DownloaderTest, FileTasksAndTheirErrors) {
  const std::u16string folder = ScratchFolder();
  Downloader dl(rig, rig, rig, folder);
  dl.SetEvents(&rig);
  Log16 checked;
  dl.SetBodyCheck([&](DownloadedFile& body, S savePath) {
    checked.push_back(savePath.substr(folder.size()));
    return body.Size() == 3 ? TransferFailure::kIncompletePackage : TransferError();
  });
  // The folder is created; the finished file is moved onto the save path.
  EXPECT_EQ(dl.BeginDownload(u"u", u"下载更新文件", u"update\\a?b.exe"), u"下载更新文件");
  EXPECT_TRUE(std::filesystem::is_directory(NativePath(folder + u"\\update")));
  rig.File(u"下载更新文件", "12345");
  dl.BeginDownload(u"u", u"held", u"update\\h.exe");
  rig.File(u"held", "12345", TransferFailure::kAccessDenied);
  dl.BeginDownload(u"u", u"cut", u"c.exe");
  rig.File(u"cut", "123");  // refused by the check: discarded, never moved
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
  EXPECT_EQ(dl.TaskCount(), 0);
  EXPECT_EQ(checked, (Log16{u"\\update\\a_b.exe", u"\\update\\h.exe", u"\\c.exe"}));
  Log16 log = rig.Take();
  for (auto& line : log) line = ReplaceAll(line, folder, u"~");
  EXPECT_EQ(log, (Log16{u"start 下载更新文件 u -> ~\\update\\a_b.exe",
                        u"add 下载更新文件 u [~\\update\\a_b.exe] 1",
                        u"move ~\\update\\a_b.exe",
                        u"cancel 下载更新文件",
                        u"complete 下载更新文件 [~\\update\\a_b.exe] \"\" 0 0",
                        u"start held u -> ~\\update\\h.exe",
                        u"add held u [~\\update\\h.exe] 1",
                        u"move ~\\update\\h.exe",
                        u"discard",
                        u"cancel held",
                        u"complete held [~\\update\\h.exe] \"\" 70 0",
                        u"start cut u -> ~\\c.exe",
                        u"add cut u [~\\c.exe] 1",
                        u"discard",
                        u"cancel cut",
                        u"complete cut [~\\c.exe] \"\" 8022 0",
                        u"start empty u -> ~\\e.exe",
                        u"add empty u [~\\e.exe] 1",
                        u"discard",
                        u"cancel empty",
                        u"complete empty [~\\e.exe] \"\" 8001 0",
                        u"start mem u",
                        u"add mem u [] 1",
                        u"cancel mem",
                        u"complete mem [] \"\" 8001 0",
                        u"complete blocked [block\\sub\\x.exe] \"\" 71 0",
                        u"start DownloadTask bad -> ~\\y.exe",
                        u"cancel DownloadTask",
                        u"complete DownloadTask [~\\y.exe] \"\" 12005 0"}));
}

}  // namespace
}  // namespace sealupdate
