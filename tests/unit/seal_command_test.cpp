// `seal` refuses the publisher's mistakes that would break clients in the field, and warns
// about the likely ones.
#include <filesystem>

#include "tool_fixture.h"
#ifdef _WIN32
#include "platform/win32.h"
#endif

namespace sealupdate::tool {
namespace {

// Wine's CNG imports any 04||X||Y without checking the curve; libcrypto and Windows do check.
bool ChecksCurve() {
#ifdef _WIN32
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr;
#else
  return true;
#endif
}

TEST_F(Tool, SealRefusesWhatWouldBreakAClient) {
  for (const std::size_t at : {2, 43, 85}) {  // X's start, X's end, Y's end: still 04||X||Y
    std::string pub = Read("k1.pub");
    pub[at] = pub[at] == 'A' ? 'B' : 'A';
    Write("off" + std::to_string(at) + ".pub", pub);
  }
  Write("bad.pub", "BAAA\n");
  Write("nope.exe", "MZ" + std::string(3000, '\x90'));
  Write("tail.exe", MinimalPe() + std::string(16, 'x') + "         F" + std::string(826, 'x'));
  const std::string ok = "[UpdateInfo]\nUpdateURL=http://h/u.ini\n", app = ok + "AppId=a.b\n";
  ASSERT_EQ(Run("seal --public-key @k1.pub --config @config.ini @client.exe @pinned.exe").code +
                Run("seal --seal-key " + std::string(64, '7') +
                    " --config @config.ini @client.exe @foreign.exe")
                    .code,
            0);
  struct Row {
    std::string config, options, client;  // no config: its file is missing
    int code;
    std::string line;
  };
  const Row rows[] = {
      {app, "--public-key @off2.pub", "client", 1, "off2.pub holds no point on P-256"},
      {app, "--public-key @off43.pub", "client", 1, "off43.pub holds no point on P-256"},
      {app, "--public-key @off85.pub", "client", 1, "off85.pub holds no point on P-256"},
      {app + "PublicKey=" + Pub("k1") + "|" + Read("off43.pub").substr(0, 88), "", "client", 1,
       "PublicKey piece 2 (" + Read("off43.pub").substr(0, 16) + "...) is not a point on P-256"},
      {app + "PublicKey=" + Pub("k1") + "|nonsense", "", "client", 1,
       "PublicKey piece 2 (nonsense...) is no public key line"},
      {app, "--public-key @bad.pub", "client", 1, "bad.pub holds no public key line"},
      {ok, "", "pinned", 1, "pinned.exe pins key(s) this configuration would drop: " + Pub("k1")},
      {ok, "--unpin", "pinned", 0, ""},
      {app, "--public-key @k2.pub", "pinned", 0, ""},  // another key is no unpinning
      {ok, "", "foreign", 1, "foreign.exe carries a configuration sealed under another seal key"},
      {ok, "--replace-foreign-seal", "foreign", 0, "warning: replaced the configuration sealed"},
      {"[Update]\nUpdateURL=u\n", "", "client", 1, "no [UpdateInfo] section"},
      {"[UpdateInfo]\nUpdateURL= | \n", "", "client", 1, "no UpdateURL in [UpdateInfo]"},
      {ok + "UpdateMode=3\n", "", "client", 1, "UpdateMode=3 is not 0, 1 or 2"},
      {ok + "UpdateMode= 2 \n", "", "client", 0, ""},
      {ok + "AppId=my app\n", "", "client", 1, "AppId=my app may hold only ASCII letters"},
      {"[updateinfo]\nUpdateUrl=u\nUpdateTxt=x\n", "", "client", 0,  // names match in any case
       "warning: unknown key 'UpdateTxt' in [UpdateInfo]"},
      {ok, "--public-key @k1.pub", "client", 0, "warning: keys are pinned without an AppId"},
      {ok, "", "tail", 0, ""},  // a length field before no zero tail is no seal
      {ok, "", "nope", 1, "nope.exe is no whole Windows program image (PE)"},
      {ok, "", "missing", 2, "cannot read " + Path("missing.exe")},
      {ok, "--public-key @missing.pub", "client", 2, "cannot read " + Path("missing.pub")},
      {"", "", "client", 2, "cannot read " + Path("c.ini")},
  };
  for (const Row& row : rows) {
    if (!ChecksCurve() && row.line.find("P-256") != std::string::npos) continue;
    std::filesystem::remove(std::filesystem::u8path(Path("c.ini")));
    if (!row.config.empty()) Write("c.ini", row.config);
    const Result r =
        Run("seal --config @c.ini " + row.options + " @" + row.client + ".exe @out.exe");
    EXPECT_EQ(r.code, row.code) << row.line << "\n" << r.err;
    EXPECT_NE(r.err.find(row.line), std::string::npos) << r.err;
    EXPECT_EQ(PathExists(Utf8ToUtf16(Path("out.exe"))), row.code == 0) << row.line;
    std::filesystem::remove(std::filesystem::u8path(Path("out.exe")));
  }
}

}  // namespace
}  // namespace sealupdate::tool
