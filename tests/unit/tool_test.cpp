// sealupdate-tool run in-process: seal and show, keygen, sign, check, version.
#include <ctime>
#include <tuple>

#include "model/document_trust.h"
#include "model/pe_image.h"
#include "model/version_info.h"
#include "pkcs8.h"
#include "platform/codepage.h"
#include "signing.h"
#include "tool_fixture.h"

namespace sealupdate::tool {
namespace {

// Every field is compared with pefile; here: the path as given, a size past 31 bits, no image.
TEST(VersionInfo, ReadsByPathSaturatesTheSizeAndRefusesWhatIsNoImage) {
  const std::u16string path = FixturePath(u"zh_lib.dll");
  const auto info = ReadVersionInfo(u"  " + path + u" ");  // spaces around are ignored
  ASSERT_TRUE(info);
  EXPECT_EQ(info->filePath + u"|" + info->fileVersion, path + u"|65535.32768.0.7");
  for (const std::u16string& p : {FixturePath(u"missing.exe"), FolderOf(GetOwnExePath())})
    EXPECT_FALSE(ReadVersionInfo(p)) << Utf16ToUtf8(p);
#ifndef _WIN32
  const std::u16string big = FolderOf(GetOwnExePath()) + u"\\pe_info_test_big.exe";
  ASSERT_TRUE(WriteWholeFile(big, FixtureBytes(u"en_app.exe")));
  const std::string native = Utf16ToUtf8(ReplaceAll(big, u"\\", u"/"));
  std::filesystem::resize_file(native, 0x80000010ull);  // sparse
  EXPECT_EQ(ReadVersionInfo(big).value_or(VersionInfo()).fileSize, INT32_MAX);
  std::filesystem::remove(native);
#endif
}

// As a signer appends a certificate table: zeros to a multiple of 8, the table, directory 4.
std::string AddCertificateTable(std::string file) {
  file.append((8 - file.size() % 8) % 8, '\0');
  const std::uint32_t offset = static_cast<std::uint32_t>(file.size()), size = 48;
  for (int i = 0; i < 4; ++i) {
    file[0x58 + 144 + i] = static_cast<char>(offset >> (8 * i));
    file[0x58 + 148 + i] = static_cast<char>(size >> (8 * i));
  }
  return file + std::string(size, '\x5A');
}

// The client's view: default key, code page 936 (the default of show), CR LF line ends, the
// image untouched; resealing replaces the block, one of another key only when asked to.
TEST_F(Tool, SealsWhatTheClientCanReadAndReplacesItsOwnSeal) {
  std::string pe = MinimalPe();
  pe[0x98] = pe[0x99] = 0;  // no PE checksum to keep true
  Write("client.exe", pe);
  Write("config.ini", "\xEF\xBB\xBF[UpdateInfo]\nSoftName=智能软件\r\nUpdateURL=u\n");
  const Result sealed = Run("seal --codepage 936 --config @config.ini @client.exe @out_中.exe");
  ASSERT_EQ(sealed.code, 0) << sealed.err;
  EXPECT_EQ(sealed.err, "");
  const std::u16string expected = u"[UpdateInfo]\r\nSoftName=智能软件\r\nUpdateURL=u\r\n";
  EXPECT_EQ(SealedText("out_中.exe"), Utf16ToCodePage(expected, 936));
  EXPECT_EQ(Run("show @out_中.exe").out, Utf16ToUtf8(expected));

  const std::string second = "[UpdateInfo]\r\nUpdateURL=B\r\n";  // in place: OUT is CLIENT
  Write("config.ini", second);
  ASSERT_EQ(Run("seal --config @config.ini @out_中.exe @out_中.exe").code, 0);
  EXPECT_EQ(SealedText("out_中.exe"), second);
  const std::string key = std::string(52, '7'), out = " @out_中.exe";
  ASSERT_EQ(Run("seal --key " + key + "aabbccddeeff --replace-foreign-seal --config @config.ini" +
                out + out)
                .code,
            0);
  EXPECT_EQ(SealedText("out_中.exe"), "");  // one block, under the other key
  EXPECT_EQ(Run("show --key " + key + "AABBCCDDEEFF" + out).out, second);
}

TEST_F(Tool, SealAndShowFailuresAndUsageErrors) {
  Write("other.exe",
        "MZ" + std::string(3000, 'x') + MakeSealedTrailer(std::vector<std::uint8_t>(16, 1)));
  // Exit 1 names the fault (the configuration's faults: SealRefusesWhatWouldBreakAClient).
  Write("config.ini", "[UpdateInfo]\nUpdateURL=u\n");
  const std::pair<Result, std::string> failed[] = {
      {Run("seal --config @config.ini @client.exe @no-such-folder/out.exe"), "out.exe"},
      {Run("show @other.exe"), "does not decipher"},
      {Run("show @client.exe"), "carries no sealed configuration"},
  };
  for (const auto& [r, named] : failed) {
    EXPECT_EQ(r.code, 1) << named;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
  }
  EXPECT_EQ(Run("show -").code, 2);  // "-" is a file name, and it cannot be read

  const std::string badKey = "--key " + std::string(63, '0') + "g";
  for (const std::string& words :
       std::vector<std::string>{"", "frobnicate", "seal @i @o", "seal --config @c @i", "show @i @o",
                                "show --config @c @i", "seal --config @c " + badKey + " @i @o",
                                "seal --config @c --codepage 0 @i @o",
                                "seal --config @c --codepage 65536 @i @o", "show @i --key"}) {
    const Result r = Run(words);
    EXPECT_EQ(r.code, 2) << words;
    EXPECT_NE(r.err.find("usage"), std::string::npos) << r.err;
  }
}

// keygen: an owner-only PKCS#8 key, never over a key or beside half a pair; the decoder is strict.
TEST_F(Tool, KeygenWritesAPairOnceInTheSystemsFraming) {
  const std::string pem = Read("k1.key");
  const auto der = PrivateKeyDer(pem);
  ASSERT_TRUE(der);
  const auto key = DecodeP256Pkcs8(*der);
  ASSERT_TRUE(key && key->publicKey);
  EXPECT_EQ(Utf16ToUtf8(FormatPublicKey(*key->publicKey)) + "\n", Read("k1.pub"));
  EXPECT_EQ(EncodeP256Pkcs8(key->d, *key->publicKey), *der);
  EXPECT_EQ(PrivateKeyPem(*der), pem);
#ifndef _WIN32
  EXPECT_EQ(std::filesystem::status(Path("k1.key")).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
  Write("k3.pub", "");
  EXPECT_EQ(Run("keygen @k1").code + Run("keygen @k3").code, 2);
  EXPECT_EQ(Read("k1.key"), pem);
  EXPECT_FALSE(PathExists(Utf8ToUtf16(Path("k3.key"))));

  const auto changed = [&](std::size_t at, std::uint8_t value) {
    auto bytes = *der;
    bytes[at] = value;
    return bytes;
  };
  std::vector<std::uint8_t> trailing = *der;
  trailing.push_back(0);
  for (const auto& bad : {changed(5, 1), changed(24, 0x08), changed(1, 0x82), trailing,
                          std::vector<std::uint8_t>(der->begin(), der->end() - 1)}) {
    EXPECT_FALSE(DecodeP256Pkcs8(bad));
  }
}

// New digest, expiry and signature replace the old; CR LF throughout; each key's line verifies.
TEST_F(Tool, SignWritesTheDigestReplacesTheSignatureAndVerifies) {
  const Result first =
      Run("sign --signing-key @k1.key --key @k2.key --package @package.bin --expires 9 @update.ini "
          "@signed.ini");
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_EQ(first.err, "sealupdate-tool sign: line ends written as CR LF\n");
  const std::string document = Read("signed.ini");
  const std::string body = document.substr(0, document.find("[Signature]"));
  EXPECT_EQ(body,
            "[UpdateInfo]\r\nVersion=1.1.0.0\r\nDownloadURL=http://example.com/dl/setup.bin\r\n"
            "ModifySuffix=.exe\r\nNote=[a]\r\nMainExeName=en_app.exe\r\nSize=" +
                std::to_string(Read("package.bin").size()) + "\r\nSHA256=" + Hash() +
                "\r\nExpires=" + body.substr(body.find("Expires=") + 8, 20) +
                "\r\n\r\n[Other]\r\nKey=1\r\n");
  EXPECT_EQ(document.find("P256=old"), std::string::npos);
  const std::int64_t expiry = std::time(nullptr) + 9 * 86400;
  for (const std::string key : {"k1", "k2"}) {
    const TrustAnchors one = ParsePublicKeys(Utf8ToUtf16(Pub(key)));
    EXPECT_TRUE(CheckUpdateDocument(document, one, expiry - 60).accepted()) << key;
    EXPECT_EQ(CheckUpdateDocument(document, one, expiry + 60).refusal, DocumentRefusal::kExpired);
  }
  ASSERT_EQ(Run("sign --key @k1.key @signed.ini").err, "");  // CR LF, digest, no expiry
  const std::string again = Read("signed.ini");
  EXPECT_EQ(again.substr(0, again.find("[Signature]")), body);
  EXPECT_EQ(again.find("[Signature]", again.find("[Signature]") + 1), std::string::npos);
}

// What the client would do, by exit code (verdicts themselves: Parity) and what it prints.
TEST_F(Tool, CheckTellsTheClientsVerdict) {
  const std::string image = Read("package.bin");
  const std::string hash = Hash();
  // Pinned keys are read from their files, each once: check counts them below.
  ASSERT_EQ(Run("seal --public-key @k1.pub --public-key @k2.pub --public-key @k1.pub --config "
                "@config.ini @client.exe @pinned.exe")
                    .code +
                Run("seal --config @config.ini @client.exe @open.exe").code +
                Run("sign --key @k1.key --package @package.bin @update.ini @signed.ini").code +
                Run("sign --key @k1.key --rollout 0 @signed.ini @held.ini").code,
            0);
  const std::string main = NativePath(FixturePath(u"en_app.exe"));
  const Result upToDate =
      Run("check @signed.ini --client @pinned.exe --package @package.bin --main " + main);
  EXPECT_EQ(upToDate.code, 3);
  EXPECT_EQ(upToDate.err, "");
  EXPECT_EQ(
      upToDate.out,
      "client: " + Path("pinned.exe") + ", 2 pinned key(s)\nversion: 1.1.0.0 advertised, " +
          "1.2.3.4 in " + main + ": no update\nsignature: valid, pinned key 1 of 2 (" + Pub("k1") +
          ")\nintegrity: Size " + std::to_string(image.size()) + ", SHA256 " + hash +
          "\nexpires: not given\ndownload 1: http://example.com/dl/setup.bin -> "
          "Update\\setup.bin.exe\npackage: " +
          Path("package.bin") + ", " + std::to_string(image.size()) + " bytes, SHA256 " + hash +
          ": size matches, hash matches\nverdict: no update: 1.2.3.4 is not older "
          "than 1.1.0.0\n");
  std::string utf16 = "\xFF\xFE";
  for (const char c : std::string("[UpdateInfo]\r\nVersion=2\r\n[Signature]\r\nP256=x\r\n"))
    utf16 += std::string{c, '\0'};
  Write("utf16.ini", utf16);
  // The exit code, the words after "check", and the line it must print.
  const std::tuple<int, const char*, const char*> cases[] = {
      {1, "@utf16.ini --client @pinned.exe", "UTF-16: a signed document must be UTF-8 or ANSI"},
      {0, "@signed.ini", "warning: a client without --client pins no key"},
      {2, "@signed.ini --client @missing.exe", "cannot read"},
      {2, "@signed.ini --client @client.exe", "carries no sealed configuration"},
      {2, "@signed.ini --main @missing.exe", "cannot read the main program"},
      {2, "@signed.ini --bogus", "unknown option"},
      {0, "@held.ini --client @open.exe", "rollout: 0 % of machines on automatic checks"},
      {3, "@held.ini --client @open.exe --machine-guid {0B7C9F10-4A2E-4D6B-9C1F-8E2D3A4B5C6D}",
       "not in the rollout: bucket "},
      {2, "@held.ini --machine-guid x", "--machine-guid needs --client"},
      {2, "", "needs exactly one DOC"},
      {0, "--help", "usage: sealupdate-tool check DOC"},
  };
  for (const auto& [code, words, line] : cases) {
    const Result r = Run(std::string("check ") + words);
    EXPECT_EQ(r.code, code) << words;
    EXPECT_NE((r.out + r.err).find(line), std::string::npos) << words << "\n" << r.out << r.err;
  }
}

// The block is found in front of any padding of a certificate table; resealing a signed client
// drops the table, its directory entry and the old block, and keeps the checksum true.
TEST_F(Tool, ReadsTheBlockOfASignedClientWhateverThePadding) {
  for (std::size_t extra = 0; extra < 8; ++extra) {
    Write("client.exe", MinimalPe() + std::string(extra, '\x90'));
    ASSERT_EQ(Run("seal --config @config.ini @client.exe @sealed.exe").code, 0);
    const std::string sealed = Read("sealed.exe");
    Write("signed.exe", AddCertificateTable(sealed));
    EXPECT_NE(Run("show @signed.exe").out.find("SoftName=x"), std::string::npos) << extra;

    const Result resealed = Run("seal --config @config.ini @signed.exe @again.exe");
    EXPECT_NE(resealed.err.find("sign " + Path("again.exe") + " again"), std::string::npos);
    const std::string again = Read("again.exe");
    EXPECT_EQ(again.size(), sealed.size()) << extra;
    EXPECT_EQ(again.substr(0x58 + 144, 8), std::string(8, '\0'));
    MemoryByteView view(again);
    EXPECT_FALSE(FindTrailingCertificateTable(view));
    std::uint32_t checksum = 0;
    for (int i = 3; i >= 0; --i)
      checksum = checksum << 8 | static_cast<unsigned char>(again[0x98 + i]);
    EXPECT_EQ(checksum, PeChecksum(again, 0x98));
  }
}

// version: control characters in a value are escaped, so every field keeps its line; "-" is a
// file name.
TEST_F(Tool, VersionEscapesControlCharactersOrFails) {
  std::string patched = FixtureBytes(u"en_app.exe");
  const std::string ltd("L\0t\0d\0", 6);
  ASSERT_NE(patched.find(ltd), std::string::npos);
  Write("ctrl.exe", patched.replace(patched.find(ltd), 6, std::string("L\0\n\0\x7F\0", 6)));
  EXPECT_NE(Run("version @ctrl.exe").out.find("\nCompanyName: Fixture Works L\\x0A\\x7F.\n"),
            std::string::npos);
  EXPECT_EQ(std::pair(Run("version -").code, Run("version @ctrl.exe @ctrl.exe").code),
            std::pair(1, 2));
}

}  // namespace
}  // namespace sealupdate::tool
