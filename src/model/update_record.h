// The update record of a run: addresses of the update document and of the package, the main
// program's executable names and versions, and the services built on them (package path,
// version comparison, ending the main program's processes).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/document_trust.h"
#include "platform/processes.h"

namespace sealupdate {

// The package's file name under Update\: the last segment of the address's path (no query, no
// fragment) followed by `suffix`. nullopt when the name could land anywhere but directly inside
// that folder or is no plain file name: a separator or ":" in it, "." or "..", a device name,
// a trailing dot or space, a control character, or nothing at all.
std::optional<std::u16string> PackageFileName(std::u16string_view url, std::u16string_view suffix);

// True for an address that starts with "http://" or "https://" (any letter case): the only
// kind a home-page button may hand to the shell.
bool IsWebAddress(std::u16string_view url);

class UpdateRecord {
 public:
  // Client folder of the running executable; the system's process table.
  UpdateRecord();
  UpdateRecord(std::u16string clientFolder, ProcessTable& processes);

  const std::u16string& ModifySuffix() const { return modifySuffix_; }
  void SetModifySuffix(std::u16string value) { modifySuffix_ = std::move(value); }
  // First main executable name, empty when none is known.
  std::u16string FirstMainExeName() const;
  // Client folder ending with "\".
  const std::u16string& Path() const { return path_; }
  // The two address counts are last indexes (-1 when empty); MainExeCount is a number of entries.
  std::int32_t LastDownloadURLIndex() const;
  std::int32_t LastUpdateURLIndex() const;
  std::int32_t MainExeCount() const;
  // The address at the current index, empty when the list is empty. Throws std::out_of_range
  // when the index lies outside a non-empty list.
  std::u16string DownloadURL() const;
  std::u16string UpdateURL() const;
  std::int32_t DownloadURLIndex() const { return downloadURLIndex_; }
  void SetDownloadURLIndex(std::int32_t value) { downloadURLIndex_ = value; }
  std::int32_t UpdateURLIndex() const { return updateURLIndex_; }
  void SetUpdateURLIndex(std::int32_t value) { updateURLIndex_ = value; }
  std::int32_t UpdateMode() const { return updateMode_; }
  void SetUpdateMode(std::int32_t value);  // clamps to 0..2
  // Path + "Update\" + PackageFileName of DownloadURL and ModifySuffix; empty when that name is
  // refused. Computed on every read.
  std::u16string SavePath() const;
  const std::u16string& UpdateText() const { return updateText_; }
  void SetUpdateText(std::u16string value) { updateText_ = std::move(value); }
  const std::u16string& LocalVersion() const { return localVersion_; }
  void SetLocalVersion(std::u16string value) { localVersion_ = std::move(value); }
  const std::u16string& Version() const { return version_; }
  void SetVersion(std::u16string value) { version_ = std::move(value); }
  const std::u16string& HomeURL() const { return homeURL_; }
  void SetHomeURL(std::u16string value) { homeURL_ = std::move(value); }
  // The keys the sealed configuration pins; documents must be signed by one of them when
  // `required`.
  const TrustAnchors& PinnedKeys() const { return pinnedKeys_; }
  void SetPinnedKeys(TrustAnchors value) { pinnedKeys_ = std::move(value); }
  // What the accepted document promises about the package; absent when it does not say.
  const std::optional<std::uint64_t>& PackageSize() const { return packageSize_; }
  const std::optional<Sha256Digest>& PackageSha256() const { return packageSha256_; }
  void SetPackageIntegrity(std::optional<std::uint64_t> size, std::optional<Sha256Digest> sha256) {
    packageSize_ = size;
    packageSha256_ = sha256;
  }
  const std::u16string& SoftName() const { return softName_; }
  void SetSoftName(std::u16string value) { softName_ = std::move(value); }

  // Trimmed; "http://" is put in front unless the address names a scheme ("https://",
  // "ftp://", any "name://"). An empty update address is kept as "http://"; an empty download
  // address is ignored.
  void AddUpdateURL(std::u16string_view url);
  void AddDownloadURL(std::u16string_view url);
  // Trimmed; kept only when it ends in ".exe" (any case).
  void AddMainExeName(std::u16string_view exeName);
  // Terminates every running process of every listed executable whose file lies in the client's
  // folder or below it, except the client itself. Processes elsewhere, or whose file cannot be
  // read, are left alone.
  void EndRunningPrograms();

  // Restarts the check through the main window, which installs the handler.
  void CheckUpdate();
  void SetCheckUpdateHandler(std::function<void()> handler) { checkUpdate_ = std::move(handler); }

  // Whether Version is newer than `localVersion`, comparing four dot-separated numeric parts;
  // nullopt when a part of either lies outside the 32-bit range.
  std::optional<bool> IsNewerThan(std::u16string_view localVersion) const;

 private:
  bool EndProcessesNamed(std::u16string_view exeName);

  ProcessTable* processes_;
  std::u16string softName_;
  std::u16string homeURL_;
  std::vector<std::u16string> updateURLs_;
  std::int32_t updateURLIndex_ = 0;
  std::vector<std::u16string> downloadURLs_;
  std::int32_t downloadURLIndex_ = 0;
  std::vector<std::u16string> mainExeNames_;
  std::u16string version_;
  std::u16string localVersion_;
  std::u16string updateText_;
  std::int32_t updateMode_ = 0;
  std::u16string path_;
  std::u16string modifySuffix_;
  std::function<void()> checkUpdate_;
  TrustAnchors pinnedKeys_;
  std::optional<std::uint64_t> packageSize_;
  std::optional<Sha256Digest> packageSha256_;
};

}  // namespace sealupdate
