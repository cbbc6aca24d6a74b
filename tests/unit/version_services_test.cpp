// Under Wine only: the reader against the system's version services (GetFileVersionInfoW and
// VerQueryValueW, the way the record is defined), field by field, on the windres fixtures and on
// every one of Wine's own PE binaries (some 700).
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text.h"
#include "model/version_info.h"
#include "platform/files.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

std::u16string Decimal(unsigned n) { return Utf8ToUtf16(std::to_string(n)); }
std::u16string Halves(DWORD word) { return Decimal(HIWORD(word)) + u'.' + Decimal(LOWORD(word)); }

// Labels written from the SDK's names, not taken from the reader.
std::u16string Label(DWORD value, std::initializer_list<std::pair<DWORD, const char16_t*>> table) {
  for (const auto& [key, label] : table) {
    if (key == value) return label;
  }
  return u"未知";
}

// The record as the version services give it; nullopt without a version resource.
std::optional<VersionInfo> ReadWithVersionServices(const std::u16string& path) {
  const std::wstring wide = win::Wide(path);
  DWORD ignored = 0;
  std::vector<unsigned char> data(GetFileVersionInfoSizeW(wide.c_str(), &ignored));
  if (data.empty() || !GetFileVersionInfoW(wide.c_str(), 0, data.size(), data.data()))
    return std::nullopt;
  VersionInfo info;
  info.FilePath = path;
  info.FileName = path.substr(path.find_last_of(u'\\') + 1);
  info.FileSize = static_cast<std::int32_t>(std::filesystem::file_size(wide));
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    info.StrucVersion = Halves(fixed.dwStrucVersion);
    info.FileVersion = Halves(fixed.dwFileVersionMS) + u'.' + Halves(fixed.dwFileVersionLS);
    info.ProductVersion =
        Halves(fixed.dwProductVersionMS) + u'.' + Halves(fixed.dwProductVersionLS);
    const char16_t* const flags[] = {u"Debug ",   u"PreRel ", u"Patched ",
                                     u"Private ", u"Info ",   u"Special "};
    for (unsigned bit = 0; bit < 6; ++bit) {
      if (fixed.dwFileFlags & (1u << bit)) info.FileFlags += flags[bit];
    }
    info.FileOS = Label(fixed.dwFileOS, {{VOS__WINDOWS16, u"Win16位"},
                                         {VOS__WINDOWS32, u"Win32位"},
                                         {VOS_DOS, u"DOS"},
                                         {VOS_DOS_WINDOWS16, u"DOS-Win16"},
                                         {VOS_DOS_WINDOWS32, u"DOS-Win32"},
                                         {VOS_OS216_PM16, u"OS/2-16 PM-16"},
                                         {VOS_OS232_PM32, u"OS/2-16 PM-32"},
                                         {VOS_NT_WINDOWS32, u"NT-Win32"}}) +
                  u"操作系统";
    info.FileType = Label(fixed.dwFileType, {{VFT_APP, u"应用程序"},
                                             {VFT_DLL, u"动态连接库"},
                                             {VFT_DRV, u"驱动程序"},
                                             {VFT_FONT, u"字体"},
                                             {VFT_VXD, u"VxD"},
                                             {VFT_STATIC_LIB, u"Lib"}});
    const char16_t* const kinds[] = {u"未知",        u"打印", u"键盘", u"语言模块",
                                     u"显示",        u"鼠标", u"网络", u"系统",
                                     u"Installable", u"声音", u"串行"};
    if (fixed.dwFileType == VFT_DRV)
      info.FileSubtype = (fixed.dwFileSubtype < 11 ? kinds[fixed.dwFileSubtype] : u"") +
                         std::u16string(u"驱动程序");
  }
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return info;
  const auto* language = static_cast<const WORD*>(value);
  wchar_t key[9];
  std::swprintf(key, 9, L"%04X%04X", language[0], language[1]);
  const std::pair<const wchar_t*, std::u16string*> strings[] = {
      {L"FileDescription", &info.FileDescription},   {L"ProductName", &info.ProductName},
      {L"OriginalFilename", &info.OriginalFilename}, {L"InternalName", &info.InternalName},
      {L"CompanyName", &info.CompanyName},           {L"LegalCopyright", &info.LegalCopyright}};
  for (const auto& [name, field] : strings) {
    const std::wstring block = std::wstring(L"\\StringFileInfo\\") + key + L"\\" + name;
    if (VerQueryValueW(data.data(), block.c_str(), &value, &length))
      *field = win::FromWide(static_cast<const wchar_t*>(value));
  }
  return info;
}

std::vector<std::u16string> Fields(const VersionInfo& i) {
  return {i.FileName,         i.FilePath,        Decimal(static_cast<unsigned>(i.FileSize)),
          i.FileVersion,      i.FileFlags,       i.FileOS,
          i.FileType,         i.FileSubtype,     i.StrucVersion,
          i.ProductVersion,   i.FileDescription, i.ProductName,
          i.OriginalFilename, i.InternalName,    i.CompanyName,
          i.LegalCopyright};
}

TEST(VersionServices, AgreeWithTheReaderOnEveryField) {
  int withVersion = 0;
  for (const std::u16string& folder :
       {FolderOf(GetOwnExePath()) + u"\\pe_fixtures",
        std::u16string(u"Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows")}) {
    std::error_code missing;  // Wine's own binaries, where this Wine keeps them
    for (const auto& entry : std::filesystem::directory_iterator(win::Wide(folder), missing)) {
      const std::u16string file = win::FromWide(entry.path().wstring());
      if (!entry.is_regular_file()) continue;
      const auto want = ReadWithVersionServices(file);
      const auto got = ReadVersionInfo(file);
      ASSERT_EQ(got.has_value(), want.has_value()) << Utf16ToUtf8(file);
      if (want) {
        EXPECT_EQ(Fields(*got), Fields(*want)) << Utf16ToUtf8(file);
      }
      withVersion += want.has_value();
    }
  }
  EXPECT_GE(withVersion, 10);  // the six fixtures with a resource and Wine's binaries
}

}  // namespace
}  // namespace sealupdate
#endif
