// The run's update record: addresses, names, the package path, version comparison and ending
// the main program.
#include "model/update_record.h"

#include <array>
#include <optional>
#include <stdexcept>

#include "base/paths.h"
#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

constexpr std::u16string_view kUncPrefix = u"\\\\";

// Folder + "\" with doubled separators folded, so a drive root ("C:\") keeps a single one. The
// leading pair of a UNC path is the one place where two belong, so it is kept.
std::u16string FolderWithSeparator(std::u16string_view folder) {
  const bool unc = folder.substr(0, kUncPrefix.size()) == kUncPrefix;
  if (unc) folder.remove_prefix(kUncPrefix.size());
  std::u16string path = ReplaceAll(std::u16string(folder) + u"\\", u"\\\\", u"\\");
  return unc ? std::u16string(kUncPrefix) + path : path;
}

// True when the address opens with a scheme ("name://", the name a letter followed by letters,
// digits, "+", "-" or ".").
bool HasScheme(std::u16string_view url) {
  const auto end = url.find(u"://");
  if (end == std::u16string_view::npos || end == 0) return false;
  const auto isLetter = [](char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
  };
  if (!isLetter(url[0])) return false;
  for (const char16_t c : url.substr(0, end)) {
    if (!isLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') {
      return false;
    }
  }
  return true;
}

// Addresses without a scheme get "http://"; one that names its scheme keeps it, as prefixing it
// would make it unreachable.
std::u16string CompleteAddress(std::u16string_view url) {
  std::u16string trimmed = TrimSpaces(url);
  return HasScheme(trimmed) ? trimmed : u"http://" + trimmed;
}

std::u16string AddressAt(const std::vector<std::u16string>& list, std::int32_t index) {
  if (list.empty()) return {};
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
    throw std::out_of_range("address index out of range");
  }
  return list[static_cast<std::size_t>(index)];
}

std::int32_t LastIndex(const std::vector<std::u16string>& list) {
  return static_cast<std::int32_t>(list.size()) - 1;
}

// Four numeric parts; parts after the fourth are ignored, missing ones read as 0. nullopt when
// a part lies outside the 32-bit range.
std::optional<std::array<std::int32_t, 4>> VersionParts(std::u16string_view version) {
  const std::vector<std::u16string> pieces = Split(version, u".");
  std::array<std::int32_t, 4> parts{};
  for (std::size_t i = 0; i < parts.size() && i < pieces.size(); ++i) {
    const auto part = RoundHalfEvenToInt32(ParseLeadingNumber(pieces[i]));
    if (!part) return std::nullopt;
    parts[i] = *part;
  }
  return parts;
}

bool IsReservedDeviceName(std::u16string_view name) {
  // The system maps these to devices whatever the extension and trailing spaces.
  std::u16string base = ToLowerUnits(name.substr(0, name.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  static constexpr std::u16string_view kDevices[] = {u"con", u"prn",    u"aux",
                                                     u"nul", u"conin$", u"conout$"};
  for (const auto device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, u"com") == 0 || base.compare(0, 3, u"lpt") == 0)) {
    const char16_t n = base[3];
    return (n >= u'0' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
  }
  return false;
}

}  // namespace

bool IsWebAddress(std::u16string_view url) {
  const std::u16string lower = ToLowerUnits(url.substr(0, 8));
  return lower.compare(0, 7, u"http://") == 0 || lower == u"https://";
}

std::optional<std::u16string> PackageFileName(std::u16string_view url, std::u16string_view suffix) {
  url = url.substr(0, url.find(u'#'));
  url = url.substr(0, url.find(u'?'));
  const auto scheme = url.find(u"://");
  if (scheme != std::u16string_view::npos) url.remove_prefix(scheme + 3);
  const auto pathStart = url.find(u'/');
  const std::u16string_view segment = pathStart == std::u16string_view::npos
                                          ? std::u16string_view()
                                          : url.substr(url.rfind(u'/') + 1);
  const std::u16string name = std::u16string(segment) + std::u16string(suffix);
  // Anything that could leave Update\ or name something other than a plain file there.
  if (name.empty() || name == u"." || name == u".." || IsReservedDeviceName(name)) return {};
  if (name.back() == u'.' || name.back() == u' ') return {};  // the system would strip them
  for (const char16_t unit : name) {
    if (unit == u'\\' || unit == u'/' || unit == u':' || unit < 0x20) return {};
  }
  return name;
}

UpdateRecord::UpdateRecord() : UpdateRecord(FolderOf(GetOwnExePath()), SystemProcessTable()) {}

UpdateRecord::UpdateRecord(std::u16string clientFolder, ProcessTable& processes)
    : processes_(&processes), path_(FolderWithSeparator(clientFolder)) {}

std::u16string UpdateRecord::FirstMainExeName() const {
  return mainExeNames_.empty() ? std::u16string() : mainExeNames_.front();
}

std::int32_t UpdateRecord::LastDownloadURLIndex() const { return LastIndex(downloadURLs_); }
std::int32_t UpdateRecord::LastUpdateURLIndex() const { return LastIndex(updateURLs_); }
std::int32_t UpdateRecord::MainExeCount() const {
  return static_cast<std::int32_t>(mainExeNames_.size());
}

std::u16string UpdateRecord::DownloadURL() const {
  return AddressAt(downloadURLs_, downloadURLIndex_);
}
std::u16string UpdateRecord::UpdateURL() const { return AddressAt(updateURLs_, updateURLIndex_); }

void UpdateRecord::SetUpdateMode(std::int32_t value) {
  updateMode_ = value < 0 ? 0 : (value > 2 ? 2 : value);
}

std::u16string UpdateRecord::SavePath() const {
  const auto name = PackageFileName(DownloadURL(), modifySuffix_);
  return name ? path_ + u"Update\\" + *name : std::u16string();
}

void UpdateRecord::AddUpdateURL(std::u16string_view url) {
  updateURLs_.push_back(CompleteAddress(url));
}

void UpdateRecord::AddDownloadURL(std::u16string_view url) {
  if (TrimSpaces(url).empty()) return;
  downloadURLs_.push_back(CompleteAddress(url));
}

void UpdateRecord::AddMainExeName(std::u16string_view exeName) {
  std::u16string name = TrimSpaces(exeName);
  if (name.size() < 4 ||
      ToLowerUnits(std::u16string_view(name).substr(name.size() - 4)) != u".exe") {
    return;
  }
  mainExeNames_.push_back(std::move(name));
}

void UpdateRecord::EndRunningPrograms() {
  for (const std::u16string& name : mainExeNames_) EndProcessesNamed(name);
}

// Only the client's own installation is ended: a process whose file lies outside the client's
// folder (another copy of the program, a system process of the same name) or cannot be read is
// left alone. The client's own process is skipped entirely: it is neither terminated nor counted
// as a match, so the client survives to open the package even when its own name is listed.
bool UpdateRecord::EndProcessesNamed(std::u16string_view exeName) {
  const auto snapshot = processes_->Snapshot();
  if (!snapshot) return false;
  const std::uint32_t self = processes_->CurrentProcessId();
  bool matched = false;
  for (const ProcessEntry& entry : *snapshot) {
    if (entry.id == self || !EqualsIgnoreCase(entry.exeName, exeName) ||
        !IsInsideFolder(entry.imagePath, path_)) {
      continue;
    }
    matched = true;
    // A process that cannot be ended, or no longer runs that file, is left alone.
    processes_->Terminate(entry.id, entry.imagePath, 0);
  }
  return matched;
}

void UpdateRecord::CheckUpdate() {
  if (checkUpdate_) checkUpdate_();
}

std::optional<bool> UpdateRecord::IsNewerThan(std::u16string_view localVersion) const {
  const auto oldParts = VersionParts(localVersion);
  const auto newParts = VersionParts(version_);
  if (!oldParts || !newParts) return std::nullopt;
  return *newParts > *oldParts;  // part by part, the first difference decides
}

}  // namespace sealupdate
