// The update decision from a document and the installed version, its download plan, and the
// check a downloaded package must pass.
#include "model/update_decision.h"

#include <gtest/gtest.h>

#include <tuple>

#include "flow_fakes.h"
#include "model/rollout.h"

namespace sealupdate {
namespace {

ClientConfig Config() {
  ClientConfig config;
  config.clientFolder = u"C:\\App\\";
  config.notes = u"configured";
  return config;
}

struct Reads {
  std::vector<std::u16string> paths;
  std::u16string version = u"1.0";
  LocalVersionReader Reader() {
    return [this](const std::u16string& path) { return paths.push_back(path), version; };
  }
};

constexpr char kDocument[] =
    "\xEF\xBB\xBF[UpdateInfo]\r\nVersion=2.0\r\nDownloadURL=d.test/a/setup.bin| "
    "|http://d.test/..\\x|"
    "https://m.test/b/setup.bin?x=1\r\nModifySuffix=.exe\r\nMainExeName= Main.exe |run.bat\r\n"
    "KillExeName=helper.EXE\r\nHomeURL=http://home.test/\r\nUpdateText=新{#br}版\r\n";

TEST(UpdateDecision, AnAcceptedNewerDocumentIsOfferedWithItsPlan) {
  Reads reads;
  const UpdateDecision decision = EvaluateUpdate(Config(), kDocument, reads.Reader(), 0);
  ASSERT_EQ(decision.outcome, UpdateOutcome::kOffer);
  EXPECT_EQ(reads.paths, std::vector<std::u16string>{u"C:\\App\\Main.exe"});
  EXPECT_EQ(decision.mainProgramPath, u"C:\\App\\Main.exe");
  const UpdateOffer& offer = *decision.offer;
  EXPECT_EQ(offer.version + u"|" + offer.localVersion + u"|" + offer.notes + u"|" + offer.homePage,
            u"2.0|1.0|新\r\n版|http://home.test/");
  EXPECT_EQ(offer.programsToEnd, (std::vector<std::u16string>{u"Main.exe", u"helper.EXE"}));
  // Blank addresses are dropped; a refused name stays in the plan without a save path.
  const auto& candidates = offer.plan.Candidates();
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[0].url, u"http://d.test/a/setup.bin");
  ASSERT_EQ(candidates[0].locations.size(), 1u);  // no per-user folder was given
  EXPECT_EQ(candidates[0].locations[0].path, u"C:\\App\\Update\\setup.bin.exe");
  EXPECT_TRUE(!candidates[1].packageName && candidates[1].locations.empty());
  EXPECT_EQ(candidates[2].packageName, u"setup.bin.exe");

  // Each walk starts from the first and ends after the last, whatever became of the offer.
  DownloadPlan::Walk walk = offer.plan.Begin();
  std::optional<UpdateDecision> gone = decision;
  DownloadPlan::Walk second = gone->offer->plan.Begin();
  gone.reset();
  EXPECT_EQ(walk.Next(), &candidates[0]);
  EXPECT_EQ(second.Next()->url, u"http://d.test/a/setup.bin");
  EXPECT_TRUE(walk.Next() == &candidates[1] && walk.Next() == &candidates[2] && !walk.Next());
  EXPECT_EQ(DownloadPlan().Begin().Next(), nullptr);
}

// The per-user folder comes second, asked for only for an offer; a path too long is no location.
TEST(UpdateDecision, SaveLocationsFitTheShell) {
  EXPECT_EQ(PerUserFolder(u"C:\\Users\\u\\AppData\\Local", u"C:\\Program Files\\示例\\"),
            u"C:\\Users\\u\\AppData\\Local\\sealupdate\\4c548e05b7aa95f2\\");
  EXPECT_EQ(PerUserFolder(u"", u"C:\\App") + PerUserFolder(u"C:\\L", u"\\"), u"");
  int asked = 0;
  const auto perUser = [&] { return ++asked, std::u16string(u"D:\\L\\"); };
  Reads reads;
  ClientConfig config = Config();
  // The longest folder whose package name (13 units) and ".part.info" still fit in 259.
  const std::u16string fits = u"C:\\" + std::u16string(259 - 3 - 7 - 13 - 10 - 1, u'x') + u"\\";
  for (const auto& [folder, expected] :
       {std::pair{fits, 2u}, {fits.substr(0, fits.size() - 1) + u"y\\", 1u}}) {
    config.clientFolder = folder;
    const auto d = EvaluateUpdate(config, kDocument, reads.Reader(), 0, perUser);
    const auto& locations = d.offer->plan.Candidates()[0].locations;
    ASSERT_EQ(locations.size(), expected);
    EXPECT_EQ(locations.back().path, u"D:\\L\\Update\\setup.bin.exe");
    EXPECT_TRUE(locations.back().exclusive);
    EXPECT_FALSE(locations.front().exclusive && expected == 2);
  }
  reads.version = u"2.0";
  EvaluateUpdate(config, kDocument, reads.Reader(), 0, perUser);  // up to date: not asked
  EXPECT_EQ(asked, 2);
}

TEST(UpdateDecision, OutcomesAndRefusals) {
  const std::string doc = kDocument;
  const auto with = [&](const std::string& from, const std::string& to) {
    return ReplaceAll(Utf8ToUtf16(doc), Utf8ToUtf16(from), Utf8ToUtf16(to));
  };
  const std::u16string unusable =
      u"[UpdateInfo]\r\nVersion=2.0\r\nDownloadURL=http://d/..|http://d/\r\n"
      u"MainExeName=Main.exe\r\n";
  // Document, installed version, outcome, refusal.
  const std::tuple<std::u16string, std::u16string, UpdateOutcome, DocumentRefusal> cases[] = {
      {with("", ""), u"2.0", UpdateOutcome::kUpToDate, DocumentRefusal::kNone},
      {with("", ""), u"", UpdateOutcome::kOffer, DocumentRefusal::kNone},  // none: 0.0.0.0
      {with("Version=2.0", "Version=latest"), u"1.0", UpdateOutcome::kRefused,
       DocumentRefusal::kNotADocument},
      {with("Version=2.0", "Version=2.99999999999"), u"1.0", UpdateOutcome::kRefused,
       DocumentRefusal::kVersionUnreadable},
      {unusable, u"1.0", UpdateOutcome::kRefused, DocumentRefusal::kNoUsableDownload},
      {unusable, u"2.0", UpdateOutcome::kUpToDate, DocumentRefusal::kNone},  // nothing to fetch
  };
  for (const auto& [text, installed, outcome, refusal] : cases) {
    Reads reads;
    reads.version = installed;
    const UpdateDecision d = EvaluateUpdate(Config(), Utf16ToUtf8(text), reads.Reader(), 10);
    EXPECT_EQ(std::pair(d.outcome, d.refusal), std::pair(outcome, refusal)) << Utf16ToUtf8(text);
    EXPECT_EQ(d.offer.has_value(), refusal == DocumentRefusal::kNone ||
                                       refusal == DocumentRefusal::kVersionUnreadable ||
                                       refusal == DocumentRefusal::kNoUsableDownload);
  }

  // Over the bound the bytes are not even read; at the bound they are.
  std::string large = doc + std::string(kMaxDocumentBytes - doc.size(), ';');
  Reads reads;
  EXPECT_EQ(EvaluateUpdate(Config(), large, reads.Reader(), 0).outcome, UpdateOutcome::kOffer);
  EXPECT_EQ(EvaluateUpdate(Config(), large + ";", reads.Reader(), 0).refusal,
            DocumentRefusal::kTooLarge);

  Reads none;  // no main program named: nothing is read
  EvaluateUpdate(Config(), "[UpdateInfo]\nVersion=1\nDownloadURL=d/p.exe\n", none.Reader(), 0);
  EXPECT_TRUE(none.paths.empty());
}

TEST(UpdateDecision, VersionsCompareFourNumericParts) {
  // Local version, advertised version, newer.
  const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
      {u"1.0.0.9", u"1.0.1.0", true},    {u"2.0", u"1.9.9.9", false},
      {u"1.2.3.4", u"1.2.3.4", false},   {u"", u"0.0.0.1", true},
      {u"1.0.0.0", u"1.0.0.0.5", false}, {u"1.9", u"1.10", true},
      {u"1.2", u"1.2.0.0", false},       {u"1.30", u"1.3 1", true},
      {u"7.0", u"7a.1", true},           {u"1.&H10", u"1.15", false},
      {u"1.2", u"1.25E-1", false},       {u"1.3", u"1.35E-1", true},  // 2.5 to 2, 3.5 to 4
  };
  for (const auto& [oldVer, newVer, newer] : cases) {
    EXPECT_EQ(IsNewerVersion(newVer, oldVer), newer)
        << Utf16ToUtf8(oldVer) << " -> " << Utf16ToUtf8(newVer);
  }
  // Parts beyond 32 bits cannot be compared, on either side.
  for (const auto& [newVer, oldVer, newer] :
       {std::tuple{u"2147483647.0.0.1", u"2147483647", std::optional(true)},
        {u"1.0", u"1.2147483648", std::nullopt},
        {u"99999999999", u"1.0", std::nullopt}}) {
    EXPECT_EQ(IsNewerVersion(newVer, oldVer), newer) << Utf16ToUtf8(newVer);
  }
}

TEST(UpdateDecision, PackagesMatchTheirDocumentAndProgramsAreWhole) {
  const std::string image = Image();
  ASSERT_FALSE(image.empty());
  const std::optional<Sha256Digest> digest = Sha256Of(image);
  const PackageExpectation none, promised{image.size(), digest};
  const auto check = [](const PackageExpectation& expected, const char16_t* name,
                        std::string_view bytes, std::optional<Sha256Digest> hash) {
    MemoryByteView view(bytes);
    return CheckPackage(expected, name, view, hash);
  };
  const std::string cut = image.substr(0, image.size() - 1);
  EXPECT_EQ(check(promised, u"a.exe", image, digest), PackageVerdict::kAccepted);
  EXPECT_EQ(check(none, u"a.EXE", image, std::nullopt), PackageVerdict::kAccepted);
  EXPECT_EQ(check(promised, u"a.exe", image + "x", digest), PackageVerdict::kMismatch);
  EXPECT_EQ(check(promised, u"a.exe", image, Sha256Of("other")), PackageVerdict::kMismatch);
  // A promised hash that was not taken is no match.
  EXPECT_EQ(check(promised, u"a.exe", image, std::nullopt), PackageVerdict::kMismatch);
  EXPECT_EQ(check({image.size(), {}}, u"a.exe", image, std::nullopt), PackageVerdict::kAccepted);
  EXPECT_EQ(check(none, u"a.exe", cut, std::nullopt), PackageVerdict::kIncompleteImage);
  EXPECT_EQ(check(none, u"a.exe", "MZ", std::nullopt), PackageVerdict::kIncompleteImage);
  EXPECT_EQ(check(none, u"a.zip", cut, std::nullopt), PackageVerdict::kAccepted);
}

// Worked out with Python's hashlib: int.from_bytes(sha256(f"{guid}|{address}").digest()[:8],
// "big") % 100.
TEST(Rollout, BucketsFollowTheDocumentedFormula) {
  const char16_t guid[] = u"6f1ed002-ab5d-4ef5-8b4b-2d5b5e5b0f3a",
                 app[] = u"updates.example.com/app/update.ini";
  for (const auto& [machine, address, bucket] :
       {std::tuple{guid, app, 3},
        {u" {6F1ED002-AB5D-4EF5-8B4B-2D5B5E5B0F3A} ", u" updates.example.com/app/update.ini ", 3},
        {guid, u"https://updates.example.com/other/update.ini", 7},
        {u"0b7c9f10-4a2e-4d6b-9c1f-8e2d3a4b5c6d", app, 4},
        {u"ffffffff-ffff-ffff-ffff-ffffffffffff", u"http://127.0.0.1:8080/u.ini", 83},
        {u"00000000-0000-0000-0000-000000000000", u"中文.example/u.ini", 15}}) {
    EXPECT_EQ(RolloutBucket(machine, address), bucket) << Utf16ToUtf8(address);
  }
  EXPECT_FALSE(RolloutBucket(u" {} ", u"a.test/u.ini"));
  // A machine without a bucket is in every rollout above 0.
  EXPECT_TRUE(InRollout(3, 4) && !InRollout(3, 3) && InRollout(std::nullopt, 1) &&
              !InRollout(std::nullopt, 0));
}

// Bucket 3: in at 4 %, out at 3 %; the user's own check and a full rollout never ask the machine.
TEST(Rollout, OnlyAutomaticChecksOutsideTheShareAreHeldBack) {
  ClientConfig config = Config();
  config.rolloutAddress = u"updates.example.com/app/update.ini";
  int asked = 0;
  const auto decide = [&](const char* rollout, CheckTrigger trigger, const char16_t* guid) {
    Reads reads;
    const RolloutInputs inputs{trigger, [&asked, guid] { return ++asked, std::u16string(guid); }};
    return EvaluateUpdate(config, std::string(kDocument) + "Rollout=" + rollout + "\r\n",
                          reads.Reader(), 0, {}, inputs);
  };
  const char16_t guid[] = u"6f1ed002-ab5d-4ef5-8b4b-2d5b5e5b0f3a";
  EXPECT_EQ(decide("4", CheckTrigger::kAutomatic, guid).outcome, UpdateOutcome::kOffer);
  const UpdateDecision out = decide("3", CheckTrigger::kAutomatic, guid);
  EXPECT_EQ(out.outcome, UpdateOutcome::kNotInRollout);
  EXPECT_EQ(out.rolloutBucket, 3);
  EXPECT_EQ(decide("0", CheckTrigger::kAutomatic, u"").outcome, UpdateOutcome::kNotInRollout);
  EXPECT_EQ(decide("1", CheckTrigger::kAutomatic, u"").outcome, UpdateOutcome::kOffer);
  EXPECT_EQ(asked, 4);
  EXPECT_EQ(decide("0", CheckTrigger::kUser, guid).outcome, UpdateOutcome::kOffer);
  EXPECT_EQ(decide("100", CheckTrigger::kAutomatic, guid).outcome, UpdateOutcome::kOffer);
  EXPECT_EQ(asked, 4);
  // Not newer stays "no update" (a malformed share: the flow test).
  Reads newer;
  newer.version = u"3.0";
  EXPECT_EQ(EvaluateUpdate(config, std::string(kDocument) + "Rollout=0\r\n", newer.Reader(), 0, {},
                           {CheckTrigger::kAutomatic, {}})
                .outcome,
            UpdateOutcome::kUpToDate);
}

}  // namespace
}  // namespace sealupdate
