// The one update decision the client and the tool share: from the sealed configuration, the bytes
// an update address answered, the installed version and the time to an offer, "no update" or a
// refusal; and whether a downloaded package may be handed over. Values in, values out: the
// network, the clock and the main program's file stay with the caller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_reader.h"
#include "model/client_config.h"
#include "model/document_trust.h"
#include "platform/crypto.h"

namespace sealupdate {

// What the document promises about the package; absent fields are not checked.
struct PackageExpectation {
  std::optional<std::uint64_t> size;
  std::optional<Sha256Digest> sha256;
};

// The longest path the shell opens (MAX_PATH less its terminating NUL).
inline constexpr std::size_t kLongestShellPath = 259;

// Where a package may be saved.
struct SaveLocation {
  std::u16string path;
  // The folder is the client's own per-user folder: it holds nothing but the package and its
  // resume files, so anything else found there is removed before the package is opened.
  bool exclusive = false;
};

// One download address and where its package may be saved.
struct DownloadCandidate {
  std::u16string url;                         // completed
  std::optional<std::u16string> packageName;  // nullopt: the name could leave Update\ (refused)
  // Best first: Update\ in the client's folder, then the per-user folder. Only paths whose
  // package, ".part" and ".part.info" all stay within kLongestShellPath; empty when the name is
  // refused or no path fits.
  std::vector<SaveLocation> locations;
};

// The download addresses in the document's order. Each attempt walks them from the first.
class DownloadPlan {
 public:
  DownloadPlan() = default;
  explicit DownloadPlan(std::vector<DownloadCandidate> candidates);

  const std::vector<DownloadCandidate>& Candidates() const;
  bool HasUsableCandidate() const;

  class Walk {
   public:
    Walk() = default;
    // The next candidate, or nullptr once every one has been tried.
    const DownloadCandidate* Next();

   private:
    friend class DownloadPlan;
    std::shared_ptr<const std::vector<DownloadCandidate>> candidates_;
    std::size_t next_ = 0;
  };
  Walk Begin() const;

 private:
  // Shared so a walk stays valid whatever happens to the plan it came from.
  std::shared_ptr<const std::vector<DownloadCandidate>> candidates_ =
      std::make_shared<std::vector<DownloadCandidate>>();
};

// What an accepted document offers this installation.
struct UpdateOffer {
  std::u16string version;       // advertised
  std::u16string localVersion;  // as compared: "0.0.0.0" for a main program without a version,
                                // empty when the document names no main program
  std::u16string notes;         // the document's UpdateText, else the configured text
  std::u16string homePage;      // the document's HomeURL, as written
  PackageExpectation package;
  std::vector<std::u16string> programsToEnd;  // MainExeName then KillExeName, ".exe" names only
  DownloadPlan plan;
};

enum class UpdateOutcome {
  kOffer,
  kUpToDate,
  kNotInRollout,  // newer, but an automatic check of a machine outside the staged rollout
  kRefused,
};

struct UpdateDecision {
  UpdateOutcome outcome = UpdateOutcome::kRefused;
  DocumentRefusal refusal = DocumentRefusal::kNone;  // why, when refused
  DocumentVerdict verdict;                           // the document's trust, for a dry run
  std::u16string mainProgramPath;  // whose version was read; empty when none is named
  // Whenever the document was accepted (also when up to date, or when its versions cannot be
  // compared): what it says, for the window's notes and home page.
  std::optional<UpdateOffer> offer;
  // This machine's rollout bucket, when a partial rollout was weighed for it (nullopt also for a
  // machine without MachineGuid).
  std::optional<int> rolloutBucket;
};

// Who started the check: a staged rollout holds an update back only from automatic checks; a
// check the user started is the user asking for it.
enum class CheckTrigger { kUser, kAutomatic };
// The machine's MachineGuid, "" when it has none.
using MachineGuidSource = std::function<std::u16string()>;
struct RolloutInputs {
  CheckTrigger trigger = CheckTrigger::kUser;
  MachineGuidSource machineGuid;  // asked only when a partial rollout could hold the update back
};

// The installed main program's file version, "" when the file has none (or is missing).
using LocalVersionReader = std::function<std::u16string(const std::u16string& path)>;
// The client's per-user folder (PerUserFolder), "" when there is none; asked only for an offer.
using PerUserFolderSource = std::function<std::u16string()>;

UpdateDecision EvaluateUpdate(const ClientConfig& config, std::string_view documentBytes,
                              const LocalVersionReader& readVersion, std::int64_t nowUtcSeconds,
                              const PerUserFolderSource& perUserFolder = {},
                              const RolloutInputs& rollout = {});

// The per-user folder of the client installed in `clientFolder`:
// <localAppData>\sealupdate\<first 16 hex digits of the SHA-256 of the folder>\, the folder as
// its long path, lower-cased, without a final "\", as UTF-16LE bytes. Two installations never
// share it; one folder reached by two spellings keeps its resume files. Empty when either is.
std::u16string PerUserFolder(std::u16string_view localAppData, std::u16string_view clientFolder);

// Whether `version` is newer than `installed`, comparing four dot-separated numeric parts
// (missing parts read as 0, later ones are ignored); nullopt when a part of either lies outside
// the 32-bit range.
std::optional<bool> IsNewerVersion(std::u16string_view version, std::u16string_view installed);

enum class PackageVerdict {
  kAccepted,
  kMismatch,         // its length or SHA-256 differs from the document's
  kIncompleteImage,  // an ".exe" that is no whole program image: cut short
};

// Whether a downloaded package may be handed to the shell: what the document promised (a
// promised SHA-256 without `digest` fails), and for a name ending in ".exe" a whole image.
PackageVerdict CheckPackage(const PackageExpectation& expected, std::u16string_view packageName,
                            ByteView& bytes, const std::optional<Sha256Digest>& digest);

}  // namespace sealupdate
