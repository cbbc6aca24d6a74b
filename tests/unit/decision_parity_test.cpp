// The client and the publisher's dry run decide alike: each case goes through the whole flow
// (sealed client, scripted network, recording view) and through `sealupdate-tool check`.
#include "fake_process_table.h"
#include "flow_fakes.h"
#include "model/version_info.h"
#include "startup/startup.h"
#include "tool_fixture.h"

namespace sealupdate {
namespace {

constexpr char16_t kMachineGuid[] = u"6f1ed002-ab5d-4ef5-8b4b-2d5b5e5b0f3a";

using Verdict = std::string;  // "offer", "no update", "document refused", "package refused"

// The tool's scratch folder and keys (k1 pinned), clients sealed from a real program image.
class Parity : public tool::Tool {
 protected:
  void SetUp() override {
    Tool::SetUp();
    image_ = Image();
    ASSERT_FALSE(image_.empty());
    Write("Main.exe", image_);  // the installed main program: 1.2.3.4
    Write("client.exe", image_);
    Write("product.ini", "[UpdateInfo]\nUpdateURL=http://u.test/u.ini\nAppId=com.example.a\n");
    ASSERT_EQ(
        Run("seal --public-key @k1.pub --config @config.ini @client.exe @pinned.exe").code +
            Run("seal --config @config.ini @client.exe @open.exe").code +
            Run("seal --public-key @k1.pub --config @product.ini @client.exe @product.exe").code,
        0);
  }
  int Tool(const std::string& words) {
    const tool::Result result = Run(words);
    lastOutput_ = result.out + result.err;
    return result.code;
  }
  // A document offering `version` of `package` (Size and SHA256 when `digest`).
  std::string Document(const std::string& version, const std::string& extra = "") {
    return "[UpdateInfo]\r\nVersion=" + version +
           "\r\nDownloadURL=http://d.test/dl/setup.bin\r\nModifySuffix=.exe\r\n"
           "MainExeName=Main.exe\r\n" +
           extra;
  }
  std::string Signed(const std::string& document, const std::string& package) {
    Write("unsigned.ini", document);
    Write("signed-package.bin", package);
    EXPECT_EQ(Tool("sign --key @k1.key --package @signed-package.bin @unsigned.ini @signed.ini"), 0)
        << lastOutput_;
    return Read("signed.ini");
  }

  Verdict ThroughTheFlow(const std::string& client, const std::string& document,
                         const std::string& package) {
    const ClientConfig config = LoadClientConfig(Utf8ToUtf16(Path(client)), u"1", BuildSealKey());
    FakeProcessTable processes;
    ProgramTerminator programs(processes, config.clientFolder);
    Rig reader;
    Downloader downloader(reader, reader, reader, Utf8ToUtf16(folder_));
    RecordingView view;
    view.answer = MessageAnswer::Yes;
    FakeFolders folders;
    FlowSystem system;
    system.readFileVersion = [](S path) {
      const auto info = ReadVersionInfo(path);
      return info ? info->fileVersion : std::u16string();
    };
    system.folders = &folders;
    system.machineGuid = [] { return std::u16string(kMachineGuid); };
    UpdateFlow flow(view, config, downloader, programs, std::move(system));
    downloader.SetEvents(&flow);
    flow.Start();
    reader.Body(document);
    if (flow.stage() == Stage::Downloading) reader.File(kTaskDownload, package);
    if (view.status == u"下载完成！") return "offer";
    if (view.status == u"已是最新！无需更新！") return "no update";
    if (view.status == u"下载文件校验失败！" || view.status == u"下载文件出错！")
      return "package refused";
    EXPECT_TRUE(view.status == u"升级信息未通过验证！" || view.status == u"获取升级信息失败！")
        << Utf16ToUtf8(view.status);
    return "document refused";
  }

  Verdict ThroughCheck(const std::string& client, const std::string& document,
                       const std::string& package) {
    Write("doc.ini", document);
    Write("package.bin", package);
    // The client's automatic check at start, on this machine.
    switch (Tool("check @doc.ini --client @" + client + " --package @package.bin --machine-guid " +
                 Utf16ToUtf8(kMachineGuid))) {
      case tool::kExitOk:
        return "offer";
      case tool::kExitNoUpdate:
        return "no update";
      default:
        return lastOutput_.find("verdict: refused: the package") != std::string::npos
                   ? "package refused"
                   : "document refused";
    }
  }

  std::string image_;
  std::string lastOutput_;
};

TEST_F(Parity, TheFlowAndCheckReachTheSameVerdict) {
  std::string other = image_;
  other[other.size() / 2] ^= 1;
  const std::string cut = image_.substr(0, image_.size() - 100);
  const std::string signedDocument = Signed(Document("2.0"), image_);
  std::string tampered = signedDocument;
  tampered.replace(tampered.find("Version=2.0"), 11, "Version=3.0");
  // Name, client, document, package, verdict.
  const std::tuple<const char*, const char*, std::string, std::string, const char*> cases[] = {
      {"signed", "pinned.exe", signedDocument, image_, "offer"},
      {"unsigned, open client", "open.exe", Document("2.0"), image_, "offer"},
      {"unsigned, pinned client", "pinned.exe", Document("2.0"), image_, "document refused"},
      {"tampered", "pinned.exe", tampered, image_, "document refused"},
      {"expired", "pinned.exe", Signed(Document("2.0", "Expires=2001-01-01T00:00:00Z\r\n"), image_),
       image_, "document refused"},
      {"malformed field", "open.exe", Document("2.0", "SHA256=zz\r\n"), image_, "document refused"},
      {"not newer", "pinned.exe", Signed(Document("1.2.3.4"), image_), image_, "no update"},
      {"refused package name", "open.exe",
       Utf16ToUtf8(ReplaceAll(Utf8ToUtf16(Document("2.0")), u"dl/setup.bin", u"dl/CON")), image_,
       "document refused"},
      {"truncated .exe", "open.exe", Document("2.0"), cut, "package refused"},
      {"wrong hash", "pinned.exe", signedDocument, other, "package refused"},
      {"signed for this product", "product.exe",
       Signed(Document("2.0", "AppId=COM.Example.A\r\n"), image_), image_, "offer"},
      {"signed for another product", "product.exe",
       Signed(Document("2.0", "AppId=com.example.b\r\n"), image_), image_, "document refused"},
      {"signed for no product", "product.exe", signedDocument, image_, "document refused"},
      {"rollout to none", "open.exe", Document("2.0", "Rollout=0\r\n"), image_, "no update"},
      {"rollout to all", "pinned.exe", Signed(Document("2.0", "Rollout=100\r\n"), image_), image_,
       "offer"},
      {"rollout out of range", "open.exe", Document("2.0", "Rollout=101\r\n"), image_,
       "document refused"},
      {"over 4 MiB", "open.exe", Document("2.0", std::string(4 << 20, ';')), image_,
       "document refused"},
  };
  for (const auto& [name, client, document, package, verdict] : cases) {
    EXPECT_EQ(ThroughTheFlow(client, document, package), verdict) << name;
    EXPECT_EQ(ThroughCheck(client, document, package), verdict) << name << "\n" << lastOutput_;
  }
}

}  // namespace
}  // namespace sealupdate
