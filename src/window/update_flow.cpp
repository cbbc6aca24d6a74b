// The update flow's stages and transitions.
#include "window/update_flow.h"

#include <algorithm>
#include <string>

#include "base/byte_reader.h"
#include "base/text.h"
#include "base/trail.h"
#include "download/url_reader.h"
#include "model/addresses.h"
#include "model/pe_image.h"
#include "platform/files.h"
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
// The system's description of a missing file.
constexpr char16_t kFileNotFoundText[] = u"找不到该文件。";
constexpr char16_t kQuestion[] = u"发现新版本，是否立即更新？";
constexpr char16_t kDownloadedMessage[] = u"更新文件下载完毕！单击 [确定] 重启程序。";
constexpr int kShowHide = 0;
constexpr int kShowNormal = 1;

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

UpdateFlow::UpdateFlow(UpdateView& view, const ClientConfig& config, Downloader& downloader,
                       ProgramTerminator& programs, FlowSystem system)
    : view_(view),
      config_(config),
      downloader_(downloader),
      programs_(programs),
      system_(std::move(system)),
      folders_(system_.folders ? *system_.folders : defaultFolders_),
      homePage_(config.homePage) {
  downloader_.SetBodyCheck([this](DownloadedFile& body, const std::u16string& savePath) {
    return CheckDownloadedPackage(body, savePath);
  });
}

TransferError UpdateFlow::CheckDownloadedPackage(DownloadedFile& body,
                                                 const std::u16string& savePath) const {
  if (!offer_) return TransferFailure::kPackageMismatch;  // no document vouches for it
  DownloadedBytes bytes(body);
  switch (CheckPackage(offer_->package, FileNameOf(savePath), bytes, body.Digest())) {
    case PackageVerdict::kAccepted:
      system_.trail.Write("package check: accepted");
      return {};
    case PackageVerdict::kMismatch:
      system_.trail.Write(
          "package check: refused, its size or SHA-256 differs from the document's");
      return TransferFailure::kPackageMismatch;
    case PackageVerdict::kIncompleteImage:
      system_.trail.Write("package check: refused, no whole program image");
      return TransferFailure::kIncompletePackage;
  }
  return TransferFailure::kPackageMismatch;
}

void UpdateFlow::EnterStage(Stage stage) {
  stage_ = stage;
  view_.ShowStage(stage);
}

void UpdateFlow::Balloon(const std::u16string& text, TrayIconKind icon) {
  if (ShowsWindowAtStart(config_.mode)) view_.ShowTrayBalloon(kBalloonTitle, text, icon);
}

void UpdateFlow::CloseWindow() {
  if (closed_) return;
  closed_ = true;
  view_.Close();
}

void UpdateFlow::Start() {
  static constexpr const char* kModeNames[] = {"manual", "check at start", "silent"};
  system_.trail.Write(std::string("mode ") + kModeNames[static_cast<int>(config_.mode)] +
                      (config_.modeFromCommandLine ? " (command line)" : " (sealed)"));
  if (!config_.programName.empty()) view_.SetTitle(MainWindowTitle(config_.programName));
  view_.SetNotes(config_.notes);
  if (ShowsWindowAtStart(config_.mode)) {
    view_.PlaceCentered();
  } else {
    view_.PlaceOffscreen();
  }
  view_.UseOwnIcon();
  if (ShowsWindowAtStart(config_.mode)) {
    view_.AddTrayIcon();
    view_.ShowTrayBalloon(config_.programName, kDefaultTitle, TrayIconKind::Information);
  }
  if (ChecksAtStart(config_.mode)) StartCheck(CheckTrigger::kAutomatic);
}

void UpdateFlow::OnPrimaryButton() {
  if (closed_) return;
  switch (stage_) {
    case Stage::Idle:
      StartCheck(CheckTrigger::kUser);
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
  if (!closed_ && IsWebAddress(homePage_)) view_.ShellOpen(homePage_, kShowHide);
}

void UpdateFlow::OnTrayShow() { view_.RestoreWindow(); }

void UpdateFlow::OnTrayExit() { view_.RemoveTrayIcon(true); }

void UpdateFlow::OnClose() {
  view_.RemoveTrayIcon(false);
  closed_ = true;
}

void UpdateFlow::StartCheck(CheckTrigger trigger) {
  trigger_ = trigger;
  exit_ = RunExit::kNoOutcome;
  system_.trail.Write(trigger == CheckTrigger::kUser ? "check asked for by the user"
                                                     : "automatic check");
  EnterStage(Stage::Checking);
  view_.SetStatus(kStatusChecking);
  nextUpdateAddress_ = 0;
  documentRefused_ = false;
  Balloon(kStatusChecking, TrayIconKind::Information);
  AskNextAddress();
}

void UpdateFlow::StopCheck() {
  // The request is abandoned, so a new check is never mistaken for it.
  downloader_.RemoveAllTasks();
  exit_ = RunExit::kNoOutcome;
  system_.trail.Write("check stopped by the user");
  EnterStage(Stage::Idle);
  view_.SetStatus(kCaptionStopCheck);
}

void UpdateFlow::AskNextAddress() {
  if (nextUpdateAddress_ >= config_.updateAddresses.size()) {
    CheckFailed();
    return;
  }
  downloader_.BeginDownload(config_.updateAddresses[nextUpdateAddress_++], kTaskCheck);
}

void UpdateFlow::CheckFailed() {
  // An address that answered with a document nobody vouches for says more than one that failed.
  const std::u16string failure = documentRefused_ ? kStatusUnverified : kStatusCheckFailed;
  exit_ = RunExit::kCheckFailed;
  system_.trail.Write(documentRefused_ ? "check failed: every document was refused or missing"
                                       : "check failed: no address gave an update document");
  EnterStage(Stage::Idle);
  view_.SetStatus(failure);
  if (!ShowsWindowAtStart(config_.mode)) {
    CloseWindow();
    return;
  }
  Balloon(failure, TrayIconKind::Information);
  view_.ShowMessage(failure, u" 提示：", MessageButtons::Ok, MessageIcon::Information);
}

void UpdateFlow::CheckSucceeded(const std::string& bytes) {
  UpdateDecision decision =
      EvaluateUpdate(config_, bytes, system_.readFileVersion, system_.utcNow(),
                     system_.perUserFolder, {trigger_, system_.machineGuid});
  TrailDecision(decision);
  if (decision.offer) {
    homePage_ = decision.offer->homePage;
    view_.SetNotes(decision.offer->notes);
  }
  switch (decision.outcome) {
    case UpdateOutcome::kOffer:
      offer_ = std::move(decision.offer);
      OfferUpdate();
      return;
    case UpdateOutcome::kUpToDate:
    case UpdateOutcome::kNotInRollout:  // this machine's turn has not come: nothing to offer
      TellUpToDate();
      return;
    case UpdateOutcome::kRefused:
      break;
  }
  if (decision.refusal == DocumentRefusal::kVersionUnreadable) {
    CheckFailed();  // the versions cannot be compared: another address would say the same
    return;
  }
  // Not a document, or one that cannot be trusted: the next address may serve a good one.
  if (decision.refusal != DocumentRefusal::kNotADocument) documentRefused_ = true;
  AskNextAddress();
}

void UpdateFlow::TrailDecision(const UpdateDecision& decision) const {
  const Trail& trail = system_.trail;
  if (decision.outcome == UpdateOutcome::kRefused && !decision.offer) {
    std::string line = std::string("document refused: ") + RefusalName(decision.refusal);
    const std::optional<UpdateDocument>& document = decision.verdict.document;
    if (decision.refusal == DocumentRefusal::kMalformedField && document)
      line += " (" + document->malformedField + ")";
    trail.Write(line);
    return;
  }
  const UpdateOffer& offer = *decision.offer;
  std::string line = "document accepted: version " + TrailText(offer.version) + " advertised, " +
                     (offer.localVersion.empty() ? std::string("no main program named")
                                                 : TrailText(offer.localVersion) + " installed");
  const std::optional<int> rollout = decision.verdict.document->rollout;
  if (rollout) {
    line += ", rollout " + std::to_string(*rollout) + " %";
    if (decision.rolloutBucket) line += ", bucket " + std::to_string(*decision.rolloutBucket);
  }
  switch (decision.outcome) {
    case UpdateOutcome::kOffer:
      line += rollout && trigger_ == CheckTrigger::kUser ? ": update offered (the user asked)"
                                                         : ": update offered";
      break;
    case UpdateOutcome::kUpToDate:
      line += ": up to date";
      break;
    case UpdateOutcome::kNotInRollout:
      line += ": not in the rollout yet";
      break;
    case UpdateOutcome::kRefused:
      line += std::string(": refused, ") + RefusalName(decision.refusal);
      break;
  }
  trail.Write(line);
}

void UpdateFlow::OfferUpdate() {
  view_.SetStatus(u"发现新版本：" + offer_->version + u"        本地版本：" + offer_->localVersion);
  EnterStage(Stage::UpdateOffered);
  const MessageAnswer answer =
      view_.ShowMessage(kQuestion, u"自动更新：", MessageButtons::YesNo, MessageIcon::Question);
  if (closed_) return;
  system_.trail.Write(answer == MessageAnswer::Yes ? "the user accepted the update"
                                                   : "the user declined the update");
  if (answer == MessageAnswer::Yes) {
    StartDownload();
    if (!ShowsWindowAtStart(config_.mode)) view_.PlaceCentered();
    view_.RestoreWindow();
  } else if (!ShowsWindowAtStart(config_.mode)) {
    CloseWindow();
  }
}

void UpdateFlow::TellUpToDate() {
  exit_ = RunExit::kUpToDate;
  view_.SetStatus(kStatusUpToDate);
  EnterStage(Stage::Idle);
  if (ShowsWindowAtStart(config_.mode)) {
    Balloon(kStatusUpToDate, TrayIconKind::Information);
    view_.ShowMessage(kStatusUpToDate, u"提示：", MessageButtons::Ok, MessageIcon::Information);
  }
  CloseWindow();
}

void UpdateFlow::StartDownload() {
  exit_ = RunExit::kNoOutcome;
  EnterStage(Stage::Downloading);
  view_.SetProgress(0, progressMax_);
  ShowDownloadStatus();
  downloads_ = offer_->plan.Begin();  // every attempt starts from the first address
  otherPackageFailure_ = false;
  DownloadNext();
}

void UpdateFlow::ShowDownloadStatus() {
  retrying_ = false;
  view_.SetStatus(u"正在从旧版：" + offer_->localVersion + u"        升级到：" + offer_->version);
}

void UpdateFlow::CancelDownload() {
  downloader_.RemoveAllTasks();
  exit_ = RunExit::kNoOutcome;
  system_.trail.Write("download cancelled by the user");
  EnterStage(Stage::UpdateOffered);
  view_.SetStatus(kStatusCancelled);
  Balloon(kStatusCancelled, TrayIconKind::Error);
}

void UpdateFlow::DownloadNext() {
  const DownloadCandidate* candidate = downloads_.Next();
  if (!candidate) {
    const std::u16string failure =
        otherPackageFailure_ ? kStatusDownloadFailed : kStatusPackageMismatch;
    exit_ = RunExit::kUpdateFailed;
    system_.trail.Write("download failed at every address");
    EnterStage(Stage::UpdateOffered);
    view_.SetStatus(failure);
    view_.ShowMessage(failure, u"提示：", MessageButtons::Ok, MessageIcon::Information);
    return;
  }
  const std::string address = AddressForTrail(candidate->url);
  if (candidate->locations.empty()) {
    // A name that could land outside Update\: this address fails before anything is written.
    system_.trail.Write("download " + address + ": refused, no safe package name");
    PackageFailed(TransferFailure::kSavePathRefused);
    return;
  }
  // The program's own folder when the user may write there (a per-machine installation under
  // Program Files, a share or a CD may not be), else the per-user folder.
  const auto writable = std::find_if(
      candidate->locations.begin(), candidate->locations.end(),
      [this](const SaveLocation& at) { return folders_.CanWriteIn(FolderOf(at.path)); });
  if (writable == candidate->locations.end()) {
    system_.trail.Write("download " + address + ": no folder the user can write");
    PackageFailed(TransferFailure::kFolderNotCreated);
    return;
  }
  location_ = *writable;
  system_.trail.Write("download " + address + " into the " +
                      (location_.exclusive ? "per-user folder" : "program folder"));
  downloader_.SetHashFileBodies(offer_->package.sha256.has_value());
  downloader_.BeginDownload(candidate->url, kTaskDownload, location_.path);
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
      AskNextAddress();
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

void UpdateFlow::PackageSucceeded(const std::u16string& savePath) {
  view_.SetStatus(kStatusDownloaded);
  view_.SetSpeed(kIdleSpeed);
  view_.SetRemaining(kIdleRemaining);
  EnterStage(Stage::Idle);
  view_.ShowMessage(kDownloadedMessage, u"下载完成：", MessageButtons::Ok,
                    MessageIcon::Information);
  if (closed_) return;
  // Nothing is ended unless the shell can be handed the package: it is there, at a path the
  // shell takes; otherwise the user keeps the program running and is told why.
  if (!folders_.Exists(savePath) || savePath.size() > kLongestShellPath) {
    exit_ = RunExit::kUpdateFailed;
    system_.trail.Write("the package cannot be handed to the shell: no program ended");
    EnterStage(Stage::UpdateOffered);
    view_.SetStatus(u"无法打开更新文件！");
    view_.ShowMessage(u"无法打开更新文件：" + savePath + u"\r\n" + kFileNotFoundText, u"提示：",
                      MessageButtons::Ok, MessageIcon::Error);
    return;
  }
  if (location_.exclusive) {
    // Nothing planted beside an installer that may ask for elevation is loaded from there.
    const std::u16string name = FileNameOf(savePath);
    folders_.KeepOnly(FolderOf(savePath), {name, name + u".part", name + u".part.info"});
  }
  programs_.EndAll(offer_->programsToEnd);
  const ShellResult opened = view_.ShellOpen(savePath, kShowNormal);
  downloader_.ReleasePackage();  // held unchanged until the shell has it
  system_.trail.Write(opened.ok ? "shell opened the package"
                                : "shell could not open the package: error " +
                                      std::to_string(opened.code));
  if (!opened.ok) {
    exit_ = RunExit::kUpdateFailed;
    // The update has not started: say so instead of ending as if it had.
    EnterStage(Stage::UpdateOffered);
    view_.SetStatus(u"无法打开更新文件！");
    view_.ShowMessage(u"无法打开更新文件：" + savePath + u"\r\n" + opened.reason, u"提示：",
                      MessageButtons::Ok, MessageIcon::Error);
    return;
  }
  exit_ = RunExit::kHandedOver;
  CloseWindow();
}

void UpdateFlow::PackageFailed(TransferError error) {
  if (error.kind == TransferFailure::kAccessDenied) {
    exit_ = RunExit::kUpdateFailed;
    system_.trail.Write("the save path is held by another program");
    // The save path is held by another program: another address would meet the same file.
    EnterStage(Stage::UpdateOffered);
    view_.SetStatus(kAccessDeniedText);
    view_.ShowMessage(kAccessDeniedText, u"提示：", MessageButtons::Ok, MessageIcon::Information);
    return;
  }
  if (error.kind != TransferFailure::kPackageMismatch) otherPackageFailure_ = true;
  DownloadNext();
}

}  // namespace sealupdate
