// The update flow's stages and transitions.
#include "window/update_flow.h"

#include <string>

#include "base/byte_reader.h"
#include "base/text.h"
#include "download/url_reader.h"
#include "model/document_trust.h"
#include "model/pe_image.h"
#include "window/layout.h"

namespace sealupdate {
namespace {

constexpr char16_t kBalloonTitle[] = u"自动更新";
constexpr char16_t kStatusChecking[] = u"正在检查新版本...";
constexpr char16_t kStatusCancelled[] = u"用户取消下载更新！";
constexpr char16_t kStatusCheckFailed[] = u"获取升级信息失败！";
constexpr char16_t kStatusUnverified[] = u"升级信息未通过验证！";
constexpr char16_t kStatusPackageMismatch[] = u"下载文件校验失败！";
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

// Totals past the bar's 32-bit range are scaled down so the bar still runs from 0 to full.
std::int32_t ToProgress(double value, double scale) {
  return ToInt32RoundHalfEven(scale > 1 ? value / scale : value);
}

}  // namespace

std::u16string_view PrimaryCaption(Stage stage) {
  switch (stage) {
    case Stage::Idle:
      return kCaptionCheck;
    case Stage::Checking:
      return kCaptionStopCheck;
    case Stage::UpdateOffered:
      return kCaptionUpdate;
    case Stage::Downloading:
      return kCaptionCancelUpdate;
  }
  return kCaptionCheck;
}

UpdateFlow::UpdateFlow(UpdateView& view, UpdateRecord& info, Downloader& downloader,
                       std::int32_t mode, FileVersionReader readFileVersion, UtcClock utcNow)
    : view_(view),
      info_(info),
      downloader_(downloader),
      mode_(mode),
      readFileVersion_(std::move(readFileVersion)),
      utcNow_(std::move(utcNow)) {
  downloader_.SetBodyCheck([this](DownloadedFile& body, const std::u16string& savePath) {
    return CheckPackage(body, savePath);
  });
}

// The package must be what the document promised (when it promised anything), and a package
// the shell will run as a program must be a whole image: a body cut short that the transfer
// could not detect is refused before any process is ended.
TransferError UpdateFlow::CheckPackage(DownloadedFile& body, const std::u16string& savePath) const {
  const auto& size = info_.PackageSize();
  const auto& sha256 = info_.PackageSha256();
  if ((size && body.Size() != *size) || (sha256 && body.Digest() != sha256)) {
    return TransferFailure::kPackageMismatch;
  }
  if (!EndsWithExe(savePath)) return {};
  DownloadedBytes bytes(body);
  if (IsCompletePeImage(bytes)) return {};
  return TransferFailure::kIncompletePackage;
}

void UpdateFlow::EnterStage(Stage stage) {
  stage_ = stage;
  view_.ShowStage(stage);
}

void UpdateFlow::Balloon(const std::u16string& text, TrayIconKind icon) {
  if (mode_ <= 1) view_.ShowTrayBalloon(kBalloonTitle, text, icon);
}

void UpdateFlow::CloseWindow() {
  if (closed_) return;
  closed_ = true;
  view_.Close();
}

void UpdateFlow::Start() {
  if (!info_.SoftName().empty()) view_.SetTitle(MainWindowTitle(info_.SoftName()));
  view_.SetNotes(info_.UpdateText());
  if (mode_ == 2) {
    view_.PlaceOffscreen();
  } else {
    view_.PlaceCentered();
  }
  view_.UseOwnIcon();
  if (mode_ <= 1) {
    view_.AddTrayIcon();
    view_.ShowTrayBalloon(info_.SoftName(), kDefaultTitle, TrayIconKind::Information);
  }
  if (mode_ >= 1) StartCheck();
}

void UpdateFlow::OnPrimaryButton() {
  if (closed_) return;
  switch (stage_) {
    case Stage::Idle:
      StartCheck();
      break;
    case Stage::Checking:
      StopCheck();
      break;
    case Stage::UpdateOffered:
      StartDownload();
      break;
    case Stage::Downloading:
      CancelDownload();
      break;
  }
}

void UpdateFlow::OnHomePageButton() {
  // The document can name anything here; only a web page may reach the shell.
  if (!closed_ && IsWebAddress(info_.HomeURL())) view_.ShellOpen(info_.HomeURL(), kShowHide);
}

void UpdateFlow::OnTrayShow() { view_.RestoreWindow(); }

void UpdateFlow::OnTrayExit() { view_.RemoveTrayIcon(true); }

void UpdateFlow::OnClose() {
  view_.RemoveTrayIcon(false);
  closed_ = true;
}

void UpdateFlow::RestartCheck() {
  if (closed_) return;
  downloader_.RemoveAllTasks();
  StartCheck();
}

void UpdateFlow::StartCheck() {
  EnterStage(Stage::Checking);
  view_.SetStatus(kStatusChecking);
  info_.SetUpdateURLIndex(0);
  documentRefused_ = false;
  Balloon(kStatusChecking, TrayIconKind::Information);
  downloader_.BeginDownload(info_.UpdateURL(), kTaskCheck);
}

void UpdateFlow::StopCheck() {
  // The request is abandoned, so a new check is never mistaken for it.
  downloader_.RemoveAllTasks();
  EnterStage(Stage::Idle);
  view_.SetStatus(kCaptionStopCheck);
}

void UpdateFlow::StartDownload() {
  EnterStage(Stage::Downloading);
  view_.SetProgress(0, progressMax_);
  ShowDownloadStatus();
  info_.SetDownloadURLIndex(0);  // every attempt starts from the first address
  otherPackageFailure_ = false;
  DownloadFromCurrentAddress();
}

void UpdateFlow::ShowDownloadStatus() {
  retrying_ = false;
  view_.SetStatus(u"正在从旧版：" + info_.LocalVersion() + u"        升级到：" + info_.Version());
}

void UpdateFlow::CancelDownload() {
  downloader_.RemoveAllTasks();
  EnterStage(Stage::UpdateOffered);
  view_.SetStatus(kStatusCancelled);
  Balloon(kStatusCancelled, TrayIconKind::Error);
}

void UpdateFlow::DownloadFromCurrentAddress() {
  const std::u16string savePath = info_.SavePath();
  if (savePath.empty()) {
    // A name that could land outside Update\: this address fails before anything is written.
    PackageFailed(TransferFailure::kSavePathRefused);
    return;
  }
  downloader_.SetHashFileBodies(info_.PackageSha256().has_value());
  downloader_.BeginDownload(info_.DownloadURL(), kTaskDownload, savePath);
}

void UpdateFlow::DownloadProgress(const std::u16string&, const std::u16string& task,
                                  const std::u16string&, double read, double total,
                                  const std::u16string& rate, const std::u16string& remaining,
                                  std::int32_t) {
  if (closed_ || stage_ != Stage::Downloading || task != kTaskDownload) return;
  const double scale = total > 2147483647.0 ? total / 2147483647.0 : 1.0;
  progressMax_ = ToProgress(total, scale);
  view_.SetProgress(ToProgress(read, scale), progressMax_);
  view_.SetSpeed(u"速度：  " + rate);
  view_.SetRemaining(u"剩余时间：" + remaining);
  if (retrying_) ShowDownloadStatus();
}

void UpdateFlow::DownloadRetry(const std::u16string&, const std::u16string& task,
                               const std::u16string&, std::int32_t retry, std::int32_t retries) {
  if (closed_ || stage_ != Stage::Downloading || task != kTaskDownload) return;
  retrying_ = true;
  view_.SetStatus(u"网络中断，正在重试（" + Utf8ToUtf16(std::to_string(retry)) + u"/" +
                  Utf8ToUtf16(std::to_string(retries)) + u"）…");
}

void UpdateFlow::DownloadComplete(const std::u16string&, const std::u16string& task,
                                  const std::u16string& savePath, const std::string& body,
                                  TransferError error, std::int32_t) {
  if (closed_) return;
  if (task == kTaskCheck && stage_ == Stage::Checking) {
    if (error) {
      CheckFailed(true);
    } else {
      CheckSucceeded(body);
    }
  } else if (task == kTaskDownload && stage_ == Stage::Downloading) {
    if (!error) {
      PackageSucceeded(savePath);
    } else {
      PackageFailed(error);
    }
  }
}

void UpdateFlow::CheckFailed(bool tryNextAddress) {
  if (tryNextAddress && info_.UpdateURLIndex() < info_.LastUpdateURLIndex()) {
    info_.SetUpdateURLIndex(info_.UpdateURLIndex() + 1);
    downloader_.BeginDownload(info_.UpdateURL(), kTaskCheck);
    return;
  }
  // An address that answered with a document nobody vouches for says more than one that failed.
  const std::u16string failure = documentRefused_ ? kStatusUnverified : kStatusCheckFailed;
  EnterStage(Stage::Idle);
  view_.SetStatus(failure);
  if (mode_ == 2) {
    CloseWindow();
    return;
  }
  Balloon(failure, TrayIconKind::Information);
  view_.ShowMessage(failure, u" 提示：", MessageButtons::Ok, MessageIcon::Information);
}

void UpdateFlow::ApplyDocument(const UpdateDocument& document) {
  info_.SetHomeURL(document.homeUrl);
  info_.SetVersion(document.version);
  info_.SetModifySuffix(document.modifySuffix);
  for (const auto& url : document.downloadUrls) info_.AddDownloadURL(url);
  for (const auto& name : document.mainExeNames) info_.AddMainExeName(name);
  if (!document.updateText.empty()) info_.SetUpdateText(document.updateText);
  info_.SetPackageIntegrity(document.packageSize, document.packageSha256);
}

void UpdateFlow::CheckSucceeded(const std::string& bytes) {
  const DocumentVerdict verdict = CheckUpdateDocument(bytes, info_.PinnedKeys(), utcNow_());
  if (!verdict.accepted()) {
    // Not a document, or one that cannot be trusted: the next address may serve a good one.
    if (verdict.refusal != DocumentRefusal::kNotADocument) documentRefused_ = true;
    CheckFailed(true);
    return;
  }
  ApplyDocument(*verdict.document);
  view_.SetNotes(info_.UpdateText());
  if (info_.MainExeCount() > 0) {
    const std::u16string version = readFileVersion_(info_.Path() + info_.FirstMainExeName());
    info_.SetLocalVersion(version.empty() ? u"0.0.0.0" : version);
  }

  const std::optional<bool> newer = info_.IsNewerThan(info_.LocalVersion());
  if (!newer) {
    // A version part past the 32-bit range: the document cannot be trusted.
    CheckFailed(false);
    return;
  }

  if (*newer) {
    view_.SetStatus(u"发现新版本：" + info_.Version() + u"        本地版本：" +
                    info_.LocalVersion());
    EnterStage(Stage::UpdateOffered);
    const MessageAnswer answer =
        view_.ShowMessage(kQuestion, u"自动更新：", MessageButtons::YesNo, MessageIcon::Question);
    if (closed_) return;
    if (answer == MessageAnswer::Yes) {
      StartDownload();
      if (mode_ == 2) view_.PlaceCentered();
      view_.RestoreWindow();
    } else if (mode_ == 2) {
      CloseWindow();
    }
    return;
  }

  view_.SetStatus(kStatusUpToDate);
  EnterStage(Stage::Idle);
  if (mode_ <= 1) {
    Balloon(kStatusUpToDate, TrayIconKind::Information);
    view_.ShowMessage(kStatusUpToDate, u"提示：", MessageButtons::Ok, MessageIcon::Information);
  }
  CloseWindow();
}

void UpdateFlow::PackageSucceeded(const std::u16string& savePath) {
  view_.SetStatus(kStatusDownloaded);
  view_.SetSpeed(kIdleSpeed);
  view_.SetRemaining(kIdleRemaining);
  EnterStage(Stage::Idle);
  view_.ShowMessage(kDownloadedMessage, u"下载完成：", MessageButtons::Ok,
                    MessageIcon::Information);
  if (closed_) return;
  info_.EndRunningPrograms();
  const ShellResult opened = view_.ShellOpen(savePath, kShowNormal);
  downloader_.ReleasePackage();  // held unchanged until the shell has it
  if (!opened.ok) {
    // The update has not started: say so instead of ending as if it had.
    EnterStage(Stage::UpdateOffered);
    view_.SetStatus(u"无法打开更新文件！");
    view_.ShowMessage(u"无法打开更新文件：" + savePath + u"\r\n" + opened.reason, u"提示：",
                      MessageButtons::Ok, MessageIcon::Error);
    return;
  }
  CloseWindow();
}

void UpdateFlow::PackageFailed(TransferError error) {
  if (error.kind == TransferFailure::kAccessDenied) {
    // The save path is held by another program: another address would meet the same file.
    EnterStage(Stage::UpdateOffered);
    view_.SetStatus(kAccessDeniedText);
    view_.ShowMessage(kAccessDeniedText, u"提示：", MessageButtons::Ok, MessageIcon::Information);
    return;
  }
  if (error.kind != TransferFailure::kPackageMismatch) otherPackageFailure_ = true;
  if (info_.DownloadURLIndex() < info_.LastDownloadURLIndex()) {
    info_.SetDownloadURLIndex(info_.DownloadURLIndex() + 1);
    DownloadFromCurrentAddress();
    return;
  }
  const std::u16string failure =
      otherPackageFailure_ ? kStatusDownloadFailed : kStatusPackageMismatch;
  EnterStage(Stage::UpdateOffered);
  view_.SetStatus(failure);
  view_.ShowMessage(failure, u"提示：", MessageButtons::Ok, MessageIcon::Information);
}

}  // namespace sealupdate
