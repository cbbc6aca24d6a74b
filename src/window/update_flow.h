// The update flow: check for a newer version, offer it, download it, hand over to the package.
// A state machine over an UpdateView; its inputs are the user's actions and the downloader's
// events, so the whole flow runs in native tests with a recording view.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/trail.h"
#include "download/downloader.h"
#include "model/client_config.h"
#include "model/program_terminator.h"
#include "model/update_decision.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace sealupdate {

// The downloader's task keys for the update document (held in memory) and the package.
inline constexpr char16_t kTaskCheck[] = u"update-document";
inline constexpr char16_t kTaskDownload[] = u"package";

inline constexpr char16_t kCaptionCheck[] = u"检查更新";
inline constexpr char16_t kCaptionStopCheck[] = u"停止检查";
inline constexpr char16_t kCaptionUpdate[] = u"立即更新";
inline constexpr char16_t kCaptionCancelUpdate[] = u"取消更新";
inline constexpr char16_t kCaptionHomePage[] = u"访问主页";
inline constexpr char16_t kIdleSpeed[] = u"速度：  0.00 KB/S";
inline constexpr char16_t kIdleRemaining[] = u"剩余时间：00:00:00";

// Where the flow stands; the primary button's caption says what pressing it does next.
enum class Stage {
  Idle,           // "检查更新": nothing runs
  Checking,       // "停止检查": the update document is being fetched
  UpdateOffered,  // "立即更新": a newer version is known and not being downloaded
  Downloading,    // "取消更新": the package is on its way
};
std::u16string_view PrimaryCaption(Stage stage);

enum class MessageIcon { Information, Question, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
enum class TrayIconKind : std::int32_t { Information = 1, Error = 3 };

struct ShellResult {
  bool ok = true;
  std::u16string reason;  // why the shell could not open the file
  int code = 0;           // the shell's own error number, for the trail
};

// How a run ended, as the client's exit code, for scripts that start it with `start /wait`.
enum class RunExit : int {
  kUpToDate = 0,      // no newer version, or this machine is not in its rollout yet
  kCheckFailed = 1,   // no address gave a usable document
  kUpdateFailed = 2,  // the download failed, or the package was refused or could not open
  kNoOutcome = 3,     // the user declined or cancelled, or closed the window before an outcome
  kHandedOver = 4,    // the package is with the shell
};

// What the flow needs from the window. The Win32 window implements it; tests record it.
class UpdateView {
 public:
  virtual ~UpdateView() = default;
  virtual void SetTitle(const std::u16string& title) = 0;
  virtual void ShowStage(Stage stage) = 0;
  virtual void SetStatus(const std::u16string& text) = 0;
  virtual void SetSpeed(const std::u16string& text) = 0;
  virtual void SetRemaining(const std::u16string& text) = 0;
  virtual void SetNotes(const std::u16string& text) = 0;
  virtual void SetProgress(std::int32_t value, std::int32_t max) = 0;
  virtual void PlaceCentered() = 0;
  virtual void PlaceOffscreen() = 0;
  // The client's own icon as the window's small icon, kept for the notification icon.
  virtual void UseOwnIcon() = 0;
  // The notification icon with the window's caption as tooltip and the tray menu on a right
  // click.
  virtual void AddTrayIcon() = 0;
  virtual void ShowTrayBalloon(const std::u16string& title, const std::u16string& text,
                               TrayIconKind icon) = 0;
  virtual void RemoveTrayIcon(bool close) = 0;
  virtual void RestoreWindow() = 0;
  // Modal; the answer the user gave.
  virtual MessageAnswer ShowMessage(const std::u16string& text, const std::u16string& title,
                                    MessageButtons buttons, MessageIcon icon) = 0;
  // Opens a file or address with the shell; `showCommand` as ShowWindow takes it.
  virtual ShellResult ShellOpen(const std::u16string& target, int showCommand) = 0;
  // Closes the window; OnClose follows and the program ends.
  virtual void Close() = 0;
};

// Sequences one run: fetch the document, evaluate it, ask, download, check the package, end the
// main program, open the package. Every decision is the model's; this class only orders them
// and tells the view.
// What the flow asks of the system beyond the window, the network and the processes.
struct FlowSystem {
  LocalVersionReader readFileVersion;  // the installed main program's version
  // Seconds since 1970 UTC, for the document's expiry.
  std::function<std::int64_t()> utcNow = UtcSecondsNow;
  PerUserFolderSource perUserFolder;  // where a package goes when the program folder cannot
  PackageFolders* folders = nullptr;  // nullptr: the real file system
  MachineGuidSource machineGuid;      // places the machine in a staged rollout
  Trail trail;                        // every step of the run, for support
};

class UpdateFlow final : public DownloaderEvents {
 public:
  UpdateFlow(UpdateView& view, const ClientConfig& config, Downloader& downloader,
             ProgramTerminator& programs, FlowSystem system);

  // The window is loaded: place it by mode, set up the tray, and check at once unless the mode
  // waits for the user.
  void Start();
  void OnPrimaryButton();
  void OnHomePageButton();
  void OnTrayShow();
  void OnTrayExit();
  // The window is going away.
  void OnClose();

  Stage stage() const { return stage_; }
  // The outcome of the run so far: closing the window keeps the last one.
  RunExit exitCode() const { return exit_; }

  void DownloadProgress(const std::u16string& url, const std::u16string& task,
                        const std::u16string& savePath, double read, double total,
                        const std::u16string& rate, const std::u16string& remaining,
                        std::int32_t taskCount) override;
  void DownloadRetry(const std::u16string& url, const std::u16string& task,
                     const std::u16string& savePath, std::int32_t retry,
                     std::int32_t retries) override;
  void DownloadComplete(const std::u16string& url, const std::u16string& task,
                        const std::u16string& savePath, const std::string& body,
                        TransferError error, std::int32_t taskCount) override;

 private:
  void EnterStage(Stage stage);
  void Balloon(const std::u16string& text, TrayIconKind icon);
  void CloseWindow();
  void StartCheck(CheckTrigger trigger);
  void StopCheck();
  void AskNextAddress();
  void CheckFailed();
  void CheckSucceeded(const std::string& bytes);
  void TrailDecision(const UpdateDecision& decision) const;
  void OfferUpdate();
  void TellUpToDate();
  void StartDownload();
  void ShowDownloadStatus();
  void CancelDownload();
  void DownloadNext();
  void PackageSucceeded(const std::u16string& savePath);
  void PackageFailed(TransferError error);
  TransferError CheckDownloadedPackage(DownloadedFile& body, const std::u16string& savePath) const;

  UpdateView& view_;
  const ClientConfig& config_;
  Downloader& downloader_;
  ProgramTerminator& programs_;
  FlowSystem system_;
  PackageFolders defaultFolders_;
  PackageFolders& folders_;
  // The configured home page until a document is accepted, then the document's.
  std::u16string homePage_;
  // The update addresses still to ask in this check.
  std::size_t nextUpdateAddress_ = 0;
  // This check met a document that answered but could not be trusted.
  bool documentRefused_ = false;
  // The update on offer, once a document offered one.
  std::optional<UpdateOffer> offer_;
  DownloadPlan::Walk downloads_;
  SaveLocation location_;  // where the current download goes
  // This download met a failure other than a package that did not match its document.
  bool otherPackageFailure_ = false;
  Stage stage_ = Stage::Idle;
  std::int32_t progressMax_ = 100;
  // The status tells of a retry until bytes flow again.
  bool retrying_ = false;
  bool closed_ = false;
  CheckTrigger trigger_ = CheckTrigger::kUser;
  RunExit exit_ = RunExit::kNoOutcome;
};

}  // namespace sealupdate
