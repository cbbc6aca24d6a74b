// The main window's behaviour: loading by mode, the check / stop / update / cancel cycle held in
// the caption of button 0, the handling of finished downloads and the progress display. A plain
// class: its inputs are events, its outputs calls on the view, so the whole flow runs in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "download/downloader.h"
#include "model/update_document.h"
#include "model/update_info.h"

namespace sealupdate {

inline constexpr char16_t kTaskCheck[] = u"检查新版本";
inline constexpr char16_t kTaskDownload[] = u"下载更新文件";

// Package failures of the flow's own, besides the download errors.
inline constexpr int kErrSavePathRefused = 8021;    // a package name that could escape its folder
inline constexpr int kErrIncompletePackage = 8022;  // an .exe package that is no whole image

inline constexpr char16_t kCaptionCheck[] = u"检查更新";
inline constexpr char16_t kCaptionStopCheck[] = u"停止检查";
inline constexpr char16_t kCaptionUpdate[] = u"立即更新";
inline constexpr char16_t kCaptionCancelUpdate[] = u"取消更新";
inline constexpr char16_t kCaptionHomePage[] = u"访问主页";
inline constexpr char16_t kDesignedSpeed[] = u"速度：  0.00 KB/S";
inline constexpr char16_t kDesignedTime[] = u"剩余时间：00:00:00";

enum class MessageIcon { Information, Question, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };
enum class TrayIconKind : std::int32_t { Information = 1, Error = 3 };

struct ShellResult {
  bool ok = true;
  std::u16string reason;  // why the shell could not open the file
};

// What the flow needs from the window. The Win32 window implements it; tests record it.
class FrmMainView {
 public:
  virtual ~FrmMainView() = default;
  virtual void SetTitle(const std::u16string& title) = 0;
  virtual std::u16string Cmd1Caption(int index) = 0;
  virtual void SetCmd1Caption(int index, const std::u16string& caption) = 0;
  virtual std::u16string Lbl1Caption(int index) = 0;
  virtual void SetLbl1Caption(int index, const std::u16string& caption) = 0;
  virtual void SetText1(const std::u16string& text) = 0;
  virtual void SetProgressMax(std::int32_t max) = 0;
  virtual void SetProgressValue(std::int32_t value) = 0;
  virtual void PlaceCentered() = 0;
  virtual void PlaceOffscreen() = 0;
  // The client's own icon as the window's small icon, kept for the notification icon.
  virtual void SetSmallIconFromOwnExe() = 0;
  // The notification icon with the window's caption as tooltip and the hidden menu on a right
  // click, showing the small icon.
  virtual void AddTrayIcon() = 0;
  virtual void ShowTrayBalloon(const std::u16string& title, const std::u16string& text,
                               TrayIconKind icon) = 0;
  virtual void RemoveTrayIcon(bool close) = 0;
  virtual void RestoreWindow() = 0;
  // Modal; the answer the user gave.
  virtual MessageAnswer ShowMessage(const std::u16string& text, const std::u16string& title,
                                    MessageButtons buttons, MessageIcon icon) = 0;
  // Opens a file or address with the shell; `showCommand` as ShowWindow takes it.
  virtual ShellResult ShellOpen(const std::u16string& file, int showCommand) = 0;
  // Closes the window; Form_Unload follows and the program ends.
  virtual void UnloadWindow() = 0;
};

class FrmMain final : public DownloaderEvents {
 public:
  // Reads the file version of an executable ("" when it has none).
  using FileVersionReader = std::function<std::u16string(const std::u16string& path)>;

  FrmMain(FrmMainView& view, clsUpdateInfo& info, Downloader& downloader, std::int32_t mode,
          FileVersionReader readFileVersion);

  void Form_Load();
  void cmd1_Click(int index);
  void Form_Unload();
  void mnuFile_ShowForm_Click();
  void mnuFile_Exit_Click();
  // The record's CheckUpdate: drop every task and start a new check.
  void CheckUpdate();

  void DownloadProgress(const std::u16string& URL, const std::u16string& TaskName,
                        const std::u16string& SavePath, double Value, double Max,
                        const std::u16string& Speed, const std::u16string& ResidualTime,
                        std::int32_t TaskCount) override;
  void DownloadComplete(const std::u16string& URL, const std::u16string& TaskName,
                        const std::u16string& SavePath, const std::string& BinBuff,
                        std::int32_t ErrNum, std::int32_t TaskCount) override;

 private:
  void SetStatus(const std::u16string& text) { view_.SetLbl1Caption(0, text); }
  void Balloon(const std::u16string& text, TrayIconKind icon);
  void Unload();
  void CheckFailed(bool tryNextAddress);
  void CheckSucceeded(const std::string& document);
  void ApplyDocument(const UpdateDocument& document);
  void StartPackageDownload();
  void PackageSucceeded(const std::u16string& savePath);
  void PackageFailed(std::int32_t errNum);

  FrmMainView& view_;
  clsUpdateInfo& info_;
  Downloader& downloader_;
  std::int32_t mode_;
  FileVersionReader readFileVersion_;
  bool unloaded_ = false;
};

}  // namespace sealupdate
