// Under Wine only: the owners of Win32 handles, and the version reader against the system's
// version services (GetFileVersionInfoW and VerQueryValueW, the way the record is defined) on
// the windres fixtures and on every one of Wine's own PE binaries (some 700). The labels for
// flags, system and type are checked against pefile natively.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/text.h"
#include "model/version_info.h"
#include "platform/files.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

// A handle whose close sets an error of its own, as InternetCloseHandle may.
struct NoisyCloseTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return 0; }
  static void Close(Handle h) noexcept {
    closed.push_back(h);
    ::SetLastError(ERROR_INVALID_HANDLE);
  }
  static inline std::vector<int> closed;
};
using NoisyHandle = win::UniqueHandle<NoisyCloseTraits>;

// `owner.reset(OpenX(...))` after OpenX failed, then GetLastError(): the error must be OpenX's,
// not the close's. The same holds when the owner goes or takes another handle.
TEST(UniqueHandle, ClosingKeepsTheLastError) {
  NoisyCloseTraits::closed.clear();
  {
    NoisyHandle request(1);
    ::SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
    request.reset();
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_FALSE(request);

    request.reset(2);
    NoisyHandle other(3);
    ::SetLastError(ERROR_INTERNET_TIMEOUT);
    other = std::move(request);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INTERNET_TIMEOUT));
    EXPECT_EQ(other.get(), 2);
    ::SetLastError(ERROR_SUCCESS);
  }
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));  // `other` closed on leaving
  EXPECT_EQ(NoisyCloseTraits::closed, (std::vector<int>{1, 3, 2}));
}

std::u16string Halves(DWORD word) {
  return Utf8ToUtf16(std::to_string(HIWORD(word)) + "." + std::to_string(LOWORD(word)));
}

// The record's versions, strings and size as the version services give them; nullopt without a
// version resource.
std::optional<std::vector<std::u16string>> ReadWithVersionServices(const std::u16string& path) {
  const std::wstring wide = win::Wide(path);
  DWORD ignored = 0;
  std::vector<unsigned char> data(GetFileVersionInfoSizeW(wide.c_str(), &ignored));
  if (data.empty() || !GetFileVersionInfoW(wide.c_str(), 0, data.size(), data.data()))
    return std::nullopt;
  std::vector<std::u16string> fields(10);
  fields[9] = Utf8ToUtf16(std::to_string(std::filesystem::file_size(wide)));
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(data.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto& fixed = *static_cast<const VS_FIXEDFILEINFO*>(value);
    fields[0] = Halves(fixed.dwFileVersionMS) + u'.' + Halves(fixed.dwFileVersionLS);
    fields[1] = Halves(fixed.dwStrucVersion);
    fields[2] = Halves(fixed.dwProductVersionMS) + u'.' + Halves(fixed.dwProductVersionLS);
  }
  if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return fields;
  const auto* language = static_cast<const WORD*>(value);
  wchar_t key[9];
  std::swprintf(key, 9, L"%04X%04X", language[0], language[1]);
  const wchar_t* names[] = {L"FileDescription", L"ProductName", L"OriginalFilename",
                            L"InternalName",    L"CompanyName", L"LegalCopyright"};
  for (int i = 0; i < 6; ++i) {
    const std::wstring block = std::wstring(L"\\StringFileInfo\\") + key + L"\\" + names[i];
    if (VerQueryValueW(data.data(), block.c_str(), &value, &length))
      fields[3 + i] = win::FromWide(static_cast<const wchar_t*>(value));
  }
  return fields;
}

TEST(VersionServices, AgreeWithTheReaderOnEveryField) {
  int withVersion = 0;
  for (const std::u16string& folder :
       {FolderOf(GetOwnExePath()) + u"\\pe_fixtures",
        std::u16string(u"Z:\\usr\\lib\\x86_64-linux-gnu\\wine\\x86_64-windows")}) {
    std::error_code missing;  // Wine's own binaries, where this Wine keeps them
    for (const auto& entry : std::filesystem::directory_iterator(win::Wide(folder), missing)) {
      if (!entry.is_regular_file()) continue;
      const std::u16string file = win::FromWide(entry.path().wstring());
      const auto want = ReadWithVersionServices(file);
      const auto got = ReadVersionInfo(file);
      ASSERT_EQ(got.has_value(), want.has_value()) << Utf16ToUtf8(file);
      if (!want) continue;
      ++withVersion;
      const VersionInfo& i = *got;
      const std::vector<std::u16string> fields = {
          i.fileVersion,    i.strucVersion,
          i.productVersion, i.fileDescription,
          i.productName,    i.originalFilename,
          i.internalName,   i.companyName,
          i.legalCopyright, Utf8ToUtf16(std::to_string(i.fileSize))};
      EXPECT_EQ(fields, *want) << Utf16ToUtf8(file);
    }
  }
  EXPECT_GE(withVersion, 10);  // the six fixtures with a resource and Wine's binaries
}

}  // namespace
}  // namespace sealupdate
#endif
