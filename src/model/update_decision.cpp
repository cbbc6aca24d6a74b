// The update decision: trust, versions, the download plan and the package check.
#include "model/update_decision.h"

#include <algorithm>
#include <array>

#include "base/encoding.h"
#include "base/text.h"
#include "model/addresses.h"
#include "model/pe_image.h"
#include "model/rollout.h"
#include "model/update_document.h"

namespace sealupdate {
namespace {

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

// ASCII letters compared without case; every other unit exactly.
bool SameAppId(std::u16string_view a, std::u16string_view b) {
  const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](auto x, auto y) { return fold(x) == fold(y); });
}

bool EndsWithExe(std::u16string_view name) {
  return name.size() >= 4 && EqualsIgnoreCase(name.substr(name.size() - 4), u".exe");
}

// The package and both resume files beside it must stay within what the shell can open.
bool FitsTheShell(std::u16string_view packagePath) {
  constexpr std::size_t kLongestSuffix = std::u16string_view(u".part.info").size();
  return packagePath.size() + kLongestSuffix <= kLongestShellPath;
}

DownloadPlan PlanDownloads(const ClientConfig& config, const UpdateDocument& document,
                           const std::u16string& perUserFolder) {
  std::vector<DownloadCandidate> candidates;
  for (const std::u16string& address : document.downloadUrls) {
    if (TrimSpaces(address).empty()) continue;
    DownloadCandidate candidate;
    candidate.url = CompleteAddress(address);
    candidate.packageName = PackageFileName(candidate.url, document.modifySuffix);
    if (candidate.packageName) {
      const SaveLocation inProgramFolder{config.clientFolder + u"Update\\" + *candidate.packageName,
                                         false};
      if (FitsTheShell(inProgramFolder.path)) candidate.locations.push_back(inProgramFolder);
      const SaveLocation perUser{perUserFolder + u"Update\\" + *candidate.packageName, true};
      if (!perUserFolder.empty() && FitsTheShell(perUser.path))
        candidate.locations.push_back(perUser);
    }
    candidates.push_back(std::move(candidate));
  }
  return DownloadPlan(std::move(candidates));
}

}  // namespace

DownloadPlan::DownloadPlan(std::vector<DownloadCandidate> candidates)
    : candidates_(std::make_shared<std::vector<DownloadCandidate>>(std::move(candidates))) {}

const std::vector<DownloadCandidate>& DownloadPlan::Candidates() const { return *candidates_; }

bool DownloadPlan::HasUsableCandidate() const {
  return std::any_of(candidates_->begin(), candidates_->end(),
                     [](const DownloadCandidate& c) { return !c.locations.empty(); });
}

DownloadPlan::Walk DownloadPlan::Begin() const {
  Walk walk;
  walk.candidates_ = candidates_;
  return walk;
}

const DownloadCandidate* DownloadPlan::Walk::Next() {
  if (!candidates_ || next_ >= candidates_->size()) return nullptr;
  return &(*candidates_)[next_++];
}

std::optional<bool> IsNewerVersion(std::u16string_view version, std::u16string_view installed) {
  const auto newParts = VersionParts(version);
  const auto oldParts = VersionParts(installed);
  if (!newParts || !oldParts) return std::nullopt;
  return *newParts > *oldParts;  // part by part, the first difference decides
}

std::u16string PerUserFolder(std::u16string_view localAppData, std::u16string_view clientFolder) {
  while (!clientFolder.empty() && clientFolder.back() == u'\\') clientFolder.remove_suffix(1);
  if (localAppData.empty() || clientFolder.empty()) return {};
  std::string bytes;
  for (const char16_t unit : ToLowerUnits(clientFolder)) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  const std::optional<Sha256Digest> digest = Sha256Of(bytes);
  if (!digest) return {};
  const std::string hex = HexEncode(digest->data(), 8);
  return std::u16string(localAppData) + u"\\sealupdate\\" + std::u16string(hex.begin(), hex.end()) +
         u"\\";
}

UpdateDecision EvaluateUpdate(const ClientConfig& config, std::string_view documentBytes,
                              const LocalVersionReader& readVersion, std::int64_t nowUtcSeconds,
                              const PerUserFolderSource& perUserFolder,
                              const RolloutInputs& rollout) {
  UpdateDecision decision;
  if (documentBytes.size() > kMaxDocumentBytes) {
    decision.refusal = DocumentRefusal::kTooLarge;
    return decision;
  }
  decision.verdict = CheckUpdateDocument(documentBytes, config.pinnedKeys, nowUtcSeconds);
  if (!decision.verdict.accepted()) {
    decision.refusal = decision.verdict.refusal;
    return decision;
  }
  const UpdateDocument& document = *decision.verdict.document;
  // One key may sign several products: a document for another one must not reach this client.
  if (config.pinnedKeys.required && !config.appId.empty() &&
      !SameAppId(document.appId, config.appId)) {
    decision.refusal = DocumentRefusal::kOtherProduct;
    return decision;
  }
  UpdateOffer& offer = decision.offer.emplace();
  offer.version = document.version;
  offer.notes = document.updateText.empty() ? config.notes : document.updateText;
  offer.homePage = document.homeUrl;
  offer.package = {document.packageSize, document.packageSha256};
  for (const std::u16string& name : document.mainExeNames) {
    std::u16string trimmed = TrimSpaces(name);
    if (EndsWithExe(trimmed)) offer.programsToEnd.push_back(std::move(trimmed));
  }
  if (!offer.programsToEnd.empty()) {
    decision.mainProgramPath = config.clientFolder + offer.programsToEnd.front();
    const std::u16string installed = readVersion(decision.mainProgramPath);
    offer.localVersion = installed.empty() ? u"0.0.0.0" : installed;
  }
  const std::optional<bool> newer = IsNewerVersion(offer.version, offer.localVersion);
  const bool isNewer = newer && *newer;
  const int percent = document.rollout.value_or(100);
  bool heldBack = false;
  if (isNewer && rollout.trigger == CheckTrigger::kAutomatic && percent < 100) {
    decision.rolloutBucket =
        RolloutBucket(rollout.machineGuid ? rollout.machineGuid() : u"", config.rolloutAddress);
    heldBack = !InRollout(decision.rolloutBucket, percent);
  }
  // The per-user folder costs a hash and a shell call: only an offer may download into it.
  const std::u16string perUser = isNewer && !heldBack && perUserFolder ? perUserFolder() : u"";
  offer.plan = PlanDownloads(config, document, perUser);

  if (!newer) {
    decision.refusal = DocumentRefusal::kVersionUnreadable;
  } else if (!*newer) {
    decision.outcome = UpdateOutcome::kUpToDate;
  } else if (heldBack) {
    decision.outcome = UpdateOutcome::kNotInRollout;
  } else if (!offer.plan.HasUsableCandidate()) {
    decision.refusal = DocumentRefusal::kNoUsableDownload;
  } else {
    decision.outcome = UpdateOutcome::kOffer;
  }
  return decision;
}

PackageVerdict CheckPackage(const PackageExpectation& expected, std::u16string_view packageName,
                            ByteView& bytes, const std::optional<Sha256Digest>& digest) {
  if ((expected.size && bytes.Size() != *expected.size) ||
      (expected.sha256 && digest != expected.sha256)) {
    return PackageVerdict::kMismatch;
  }
  // The shell runs an ".exe" as a program: a body cut short that the transfer could not detect
  // is refused before any process is ended.
  if (EndsWithExe(packageName) && !IsCompletePeImage(bytes)) {
    return PackageVerdict::kIncompleteImage;
  }
  return PackageVerdict::kAccepted;
}

}  // namespace sealupdate
