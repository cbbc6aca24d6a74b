#include "window/frm_main.h"

#include <stdexcept>

#include "base/text.h"
#include "download/url_reader.h"
#include "model/pe_info.h"
#include "window/layout.h"

namespace sealupdate {
namespace {

constexpr char16_t kBalloonTitle[] = u"自动更新";
constexpr char16_t kStatusChecking[] = u"正在检查新版本...";
constexpr char16_t kStatusCancelled[] = u"用户取消下载更新！";
constexpr char16_t kStatusCheckFailed[] = u"获取升级信息失败！";
constexpr char16_t kStatusUpToDate[] = u"已是最新！无需更新！";
constexpr char16_t kStatusDownloaded[] = u"下载完成！";
constexpr char16_t kStatusDownloadFailed[] = u"下载文件出错！";
// The system's description of a denied file access.
constexpr char16_t kAccessDeniedText[] = u"拒绝访问。";
constexpr char16_t kQuestion[] = u"发现新版本，是否立即更新？";
constexpr char16_t kDownloadedMessage[] = u"更新文件下载完毕！单击 [确定] 重启程序。";
constexpr int kShowHide = 0;
constexpr int kShowNormal = 1;

bool EndsWithExe(std::u16string_view path) {
  return path.size() >= 4 && EqualsIgnoreCase(path.substr(path.size() - 4), u".exe");
}

// The finished body read through the byte-view interface of the image parser.
class DownloadedBytes final : public ByteView {
 public:
  explicit DownloadedBytes(DownloadedFile& file) : file_(file) {}
  std::uint64_t Size() const override { return file_.Size(); }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    return file_.ReadAt(offset, buffer, length);
  }

 private:
  DownloadedFile& file_;
};

// A package the shell will run as a program must be a whole image: a body cut short that the
// transfer could not detect is refused before any process is ended.
int CheckPackage(DownloadedFile& body, const std::u16string& savePath) {
  if (!EndsWithExe(savePath)) return 0;
  DownloadedBytes bytes(body);
  return IsCompletePeImage(bytes) ? 0 : kErrIncompletePackage;
}

std::int32_t ToProgress(double value, double scale) {
  return ToInt32RoundHalfEven(scale > 1 ? value / scale : value);
}

}  // namespace

FrmMain::FrmMain(FrmMainView& view, clsUpdateInfo& info, Downloader& downloader, std::int32_t mode,
                 FileVersionReader readFileVersion)
    : view_(view),
      info_(info),
      downloader_(downloader),
      mode_(mode),
      readFileVersion_(std::move(readFileVersion)) {
  downloader_.SetBodyCheck(CheckPackage);
}

void FrmMain::Balloon(const std::u16string& text, TrayIconKind icon) {
  if (mode_ <= 1) view_.ShowTrayBalloon(kBalloonTitle, text, icon);
}

void FrmMain::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  view_.UnloadWindow();
}

void FrmMain::Form_Load() {
  if (!info_.SoftName().empty()) view_.SetTitle(MainWindowTitle(info_.SoftName()));
  view_.SetText1(info_.UpdateText());
  if (mode_ == 2) {
    view_.PlaceOffscreen();
  } else {
    view_.PlaceCentered();
  }
  view_.SetSmallIconFromOwnExe();
  if (mode_ <= 1) {
    view_.AddTrayIcon();
    view_.ShowTrayBalloon(info_.SoftName(), kDesignedTitle, TrayIconKind::Information);
  }
  if (mode_ >= 1) cmd1_Click(0);
}

void FrmMain::cmd1_Click(int index) {
  if (unloaded_) return;
  const std::u16string caption = view_.Cmd1Caption(index);
  if (caption == kCaptionHomePage) {
    // The document can name anything here; only a web page may reach the shell.
    if (IsWebAddress(info_.HomeURL())) view_.ShellOpen(info_.HomeURL(), kShowHide);
  } else if (caption == kCaptionCheck) {
    view_.SetCmd1Caption(index, kCaptionStopCheck);
    SetStatus(kStatusChecking);
    info_.SetUpdateURLIndex(0);
    Balloon(kStatusChecking, TrayIconKind::Information);
    downloader_.BeginDownload(info_.UpdateURL(), kTaskCheck);
  } else if (caption == kCaptionStopCheck) {
    // The request is abandoned, so a new check is never mistaken for it.
    downloader_.RemoveAllTask();
    view_.SetCmd1Caption(index, kCaptionCheck);
    SetStatus(kCaptionStopCheck);
  } else if (caption == kCaptionUpdate) {
    view_.SetCmd1Caption(index, kCaptionCancelUpdate);
    view_.SetProgressValue(0);
    SetStatus(u"正在从旧版：" + info_.LocalVersion() + u"        升级到：" + info_.Version());
    StartPackageDownload();
  } else if (caption == kCaptionCancelUpdate) {
    downloader_.RemoveAllTask();
    view_.SetCmd1Caption(index, kCaptionUpdate);
    SetStatus(kStatusCancelled);
    Balloon(kStatusCancelled, TrayIconKind::Error);
  }
}

void FrmMain::Form_Unload() {
  view_.RemoveTrayIcon(false);
  unloaded_ = true;
}

void FrmMain::mnuFile_ShowForm_Click() { view_.RestoreWindow(); }

void FrmMain::mnuFile_Exit_Click() { view_.RemoveTrayIcon(true); }

void FrmMain::CheckUpdate() {
  if (unloaded_) return;
  downloader_.RemoveAllTask();
  view_.SetCmd1Caption(0, kCaptionCheck);
  cmd1_Click(0);
}

void FrmMain::DownloadProgress(const std::u16string&, const std::u16string& TaskName,
                               const std::u16string&, double Value, double Max,
                               const std::u16string& Speed, const std::u16string& ResidualTime,
                               std::int32_t) {
  if (unloaded_ || TaskName != kTaskDownload) return;
  // Totals past the bar's 32-bit range are scaled down so the bar still runs from 0 to full.
  const double scale = Max > 2147483647.0 ? Max / 2147483647.0 : 1.0;
  view_.SetProgressMax(ToProgress(Max, scale));
  view_.SetProgressValue(ToProgress(Value, scale));
  view_.SetLbl1Caption(2, u"速度：  " + Speed);
  view_.SetLbl1Caption(3, u"剩余时间：" + ResidualTime);
}

void FrmMain::DownloadComplete(const std::u16string&, const std::u16string& TaskName,
                               const std::u16string& SavePath, const std::string& BinBuff,
                               std::int32_t ErrNum, std::int32_t) {
  if (unloaded_) return;
  if (TaskName == kTaskCheck) {
    if (ErrNum != 0) {
      CheckFailed(true);
    } else {
      CheckSucceeded(BinBuff);
    }
  } else if (TaskName == kTaskDownload) {
    if (ErrNum == 0) {
      PackageSucceeded(SavePath);
    } else {
      PackageFailed(ErrNum);
    }
  }
}

void FrmMain::CheckFailed(bool tryNextAddress) {
  if (tryNextAddress && info_.UpdateURLIndex() < info_.UpdateURLCount()) {
    info_.SetUpdateURLIndex(info_.UpdateURLIndex() + 1);
    downloader_.BeginDownload(info_.UpdateURL(), kTaskCheck);
    return;
  }
  if (view_.Cmd1Caption(0) == kCaptionStopCheck) cmd1_Click(0);
  SetStatus(kStatusCheckFailed);
  if (mode_ == 2) {
    Unload();
    return;
  }
  Balloon(kStatusCheckFailed, TrayIconKind::Information);
  view_.ShowMessage(kStatusCheckFailed, u" 提示：", MessageButtons::Ok, MessageIcon::Information);
}

void FrmMain::ApplyDocument(const UpdateDocument& document) {
  info_.SetHomeURL(document.homeUrl);
  info_.SetVersion(document.version);
  info_.SetModifySuffix(document.modifySuffix);
  for (const auto& url : document.downloadUrls) info_.AddDownloadURL(url);
  for (const auto& name : document.mainExeNames) info_.AddMainExeName(name);
  if (!document.updateText.empty()) info_.SetUpdateText(document.updateText);
}

void FrmMain::CheckSucceeded(const std::string& bytes) {
  const std::optional<UpdateDocument> document = ParseUpdateDocument(bytes);
  if (!document) {
    CheckFailed(true);  // not a document at all: the next address may serve one
    return;
  }
  ApplyDocument(*document);
  view_.SetText1(info_.UpdateText());
  if (info_.MainExeCount() > 0) {
    const std::u16string version = readFileVersion_(info_.Path() + info_.MainFileName());
    info_.SetLocalVersion(version.empty() ? u"0.0.0.0" : version);
  }

  bool newer = false;
  try {
    newer = info_.CheckVersion(info_.LocalVersion());
  } catch (const std::overflow_error&) {
    // A version part past the 32-bit range: the document cannot be trusted; report it as a
    // failed check rather than end the program.
    CheckFailed(false);
    return;
  }

  if (newer) {
    SetStatus(u"发现新版本：" + info_.Version() + u"        本地版本：" + info_.LocalVersion());
    view_.SetCmd1Caption(0, kCaptionUpdate);
    const MessageAnswer answer =
        view_.ShowMessage(kQuestion, u"自动更新：", MessageButtons::YesNo, MessageIcon::Question);
    if (unloaded_) return;
    if (answer == MessageAnswer::Yes) {
      cmd1_Click(0);
      if (mode_ == 2) view_.PlaceCentered();
      view_.RestoreWindow();
    } else if (mode_ == 2) {
      Unload();
    }
    return;
  }

  SetStatus(kStatusUpToDate);
  view_.SetCmd1Caption(0, kCaptionCheck);
  if (mode_ <= 1) {
    Balloon(kStatusUpToDate, TrayIconKind::Information);
    view_.ShowMessage(kStatusUpToDate, u"提示：", MessageButtons::Ok, MessageIcon::Information);
  }
  Unload();
}

void FrmMain::PackageSucceeded(const std::u16string& savePath) {
  SetStatus(kStatusDownloaded);
  view_.SetLbl1Caption(2, kDesignedSpeed);
  view_.SetLbl1Caption(3, kDesignedTime);
  view_.SetCmd1Caption(0, kCaptionCheck);
  view_.ShowMessage(kDownloadedMessage, u"下载完成：", MessageButtons::Ok,
                    MessageIcon::Information);
  if (unloaded_) return;
  info_.KillMainExeName();
  const ShellResult opened = view_.ShellOpen(savePath, kShowNormal);
  if (!opened.ok) {
    // The update has not started: say so instead of ending as if it had.
    const std::u16string text = u"无法打开更新文件：" + savePath + u"\r\n" + opened.reason;
    view_.SetCmd1Caption(0, kCaptionUpdate);
    SetStatus(u"无法打开更新文件！");
    view_.ShowMessage(text, u"提示：", MessageButtons::Ok, MessageIcon::Error);
    return;
  }
  Unload();
}

void FrmMain::StartPackageDownload() {
  const std::u16string savePath = info_.SavePath();
  if (savePath.empty()) {
    // A name that could land outside Update\: this address fails before anything is written.
    PackageFailed(kErrSavePathRefused);
    return;
  }
  downloader_.BeginDownload(info_.DownloadURL(), kTaskDownload, savePath);
}

void FrmMain::PackageFailed(std::int32_t errNum) {
  if (errNum == kErrAccessDenied) {
    view_.SetCmd1Caption(0, kCaptionUpdate);
    SetStatus(kAccessDeniedText);
    view_.ShowMessage(kAccessDeniedText, u"提示：", MessageButtons::Ok, MessageIcon::Information);
    return;
  }
  if (info_.DownloadURLIndex() < info_.DownloadURLCount()) {
    info_.SetDownloadURLIndex(info_.DownloadURLIndex() + 1);
    StartPackageDownload();
    return;
  }
  view_.SetCmd1Caption(0, kCaptionUpdate);
  SetStatus(kStatusDownloadFailed);
  view_.ShowMessage(kStatusDownloadFailed, u"提示：", MessageButtons::Ok, MessageIcon::Information);
}

}  // namespace sealupdate
