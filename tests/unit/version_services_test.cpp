// Under Wine only: the reader against the system's version services (GetFileVersionInfoW and
// VerQueryValueW, the way the record is defined) on the windres fixtures and on every one of
// Wine's own PE binaries (some 700): which files have a record, their version numbers and
// strings. The labels for flags, system and type are checked against pefile natively.
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

// The record as the version services give it; nullopt without a version resource.
std::optional<VersionInfo> ReadWithVersionServices(const std::u16string& path) {
  const std::wstring wide = win::Wide(path);
  DWORD ignored = 0;
  std::vector<unsigned char> data(GetFileVersionInfoSizeW(wide.c_str(), &ignored));
  if (data.empty() || !GetFileVersionInfoW(wide.c_str(), 0, data.size(), data.data()))
    return std::nullopt;
  VersionInfo info;  // the name and path are the caller's, checked natively
  info.fileSize = static_cast<std::int32_t>(std::filesystem::file_size(wide));
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    info.strucVersion = Halves(fixed.dwStrucVersion);
    info.fileVersion = Halves(fixed.dwFileVersionMS) + u'.' + Halves(fixed.dwFileVersionLS);
    info.productVersion =
        Halves(fixed.dwProductVersionMS) + u'.' + Halves(fixed.dwProductVersionLS);
  }
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return info;
  const auto* language = static_cast<const WORD*>(value);
  wchar_t key[9];
  std::swprintf(key, 9, L"%04X%04X", language[0], language[1]);
  const std::pair<const wchar_t*, std::u16string*> strings[] = {
      {L"FileDescription", &info.fileDescription},   {L"ProductName", &info.productName},
      {L"OriginalFilename", &info.originalFilename}, {L"InternalName", &info.internalName},
      {L"CompanyName", &info.companyName},           {L"LegalCopyright", &info.legalCopyright}};
  for (const auto& [name, field] : strings) {
    const std::wstring block = std::wstring(L"\\StringFileInfo\\") + key + L"\\" + name;
    if (VerQueryValueW(data.data(), block.c_str(), &value, &length))
      *field = win::FromWide(static_cast<const wchar_t*>(value));
  }
  return info;
}

std::vector<std::u16string> Fields(const VersionInfo& i) {
  return {i.fileVersion,    i.strucVersion,
          i.productVersion, i.fileDescription,
          i.productName,    i.originalFilename,
          i.internalName,   i.companyName,
          i.legalCopyright, Decimal(static_cast<unsigned>(i.fileSize))};
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
