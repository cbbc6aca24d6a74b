// Reads each file's version resource twice, with the system's version services
// (GetFileVersionInfoW / VerQueryValueW, the way the record is defined) and with the project's own
// parser, and prints every field on which they differ. Arguments are files or folders (every
// *.exe and *.dll inside). Prints UTF-8; exits 0 when every file agrees, 1 on a mismatch or when
// nothing was compared, 2 on bad usage.
#include <cstdio>
#include <string>
#include <vector>

#include "base/text.h"
#include "model/version_info.h"
#include "platform/win32.h"

namespace {

using sealupdate::VersionInfo;
using sealupdate::win::FromWide;
using sealupdate::win::Wide;

struct FindTraits {
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { ::FindClose(h); }
};

std::string Utf8(const std::u16string& text) { return sealupdate::Utf16ToUtf8(text); }

std::u16string Decimal(unsigned n) { return sealupdate::Utf8ToUtf16(std::to_string(n)); }
std::u16string Halves(DWORD word) { return Decimal(HIWORD(word)) + u'.' + Decimal(LOWORD(word)); }

// The labels of the fixed info's words, written from the SDK's names rather than taken from the
// parser.
const std::pair<DWORD, const char16_t*> kOs[] = {{VOS__WINDOWS16, u"Win16位"},
                                                 {VOS__WINDOWS32, u"Win32位"},
                                                 {VOS_DOS, u"DOS"},
                                                 {VOS_DOS_WINDOWS16, u"DOS-Win16"},
                                                 {VOS_DOS_WINDOWS32, u"DOS-Win32"},
                                                 {VOS_OS216_PM16, u"OS/2-16 PM-16"},
                                                 {VOS_OS232_PM32, u"OS/2-16 PM-32"},
                                                 {VOS_NT_WINDOWS32, u"NT-Win32"}};
const std::pair<DWORD, const char16_t*> kTypes[] = {
    {VFT_APP, u"应用程序"}, {VFT_DLL, u"动态连接库"}, {VFT_DRV, u"驱动程序"},
    {VFT_FONT, u"字体"},    {VFT_VXD, u"VxD"},        {VFT_STATIC_LIB, u"Lib"}};

template <std::size_t N>
std::u16string Label(const std::pair<DWORD, const char16_t*> (&table)[N], DWORD value) {
  for (const auto& [key, label] : table) {
    if (key == value) return label;
  }
  return u"未知";
}

// The record as the version services give it, built independently of the parser's code.
bool ReadWithVersionServices(const std::u16string& path, VersionInfo& info) {
  const std::wstring wide = Wide(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  if (!GetFileVersionInfoW(wide.c_str(), 0, size, buffer.data())) return false;

  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &attributes);
  info.FilePath = path;
  info.FileSize = attributes.nFileSizeHigh || attributes.nFileSizeLow > 0x7FFFFFFFu
                      ? 0x7FFFFFFF
                      : static_cast<std::int32_t>(attributes.nFileSizeLow);
  const auto slash = path.find_last_of(u"\\/");
  info.FileName = slash == std::u16string::npos ? path : path.substr(slash + 1);

  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueW(buffer.data(), L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    info.StrucVersion = Halves(fixed->dwStrucVersion);
    info.FileVersion = Halves(fixed->dwFileVersionMS) + u'.' + Halves(fixed->dwFileVersionLS);
    info.ProductVersion =
        Halves(fixed->dwProductVersionMS) + u'.' + Halves(fixed->dwProductVersionLS);
    static const char16_t* const kFlags[] = {u"Debug ",   u"PreRel ", u"Patched ",
                                             u"Private ", u"Info ",   u"Special "};
    for (unsigned bit = 0; bit < 6; ++bit) {
      if (fixed->dwFileFlags & (1u << bit)) info.FileFlags += kFlags[bit];
    }
    info.FileOS = Label(kOs, fixed->dwFileOS) + u"操作系统";
    info.FileType = Label(kTypes, fixed->dwFileType);
    if (fixed->dwFileType == VFT_DRV) {
      static const char16_t* const kKinds[] = {u"未知",        u"打印", u"键盘", u"语言模块",
                                               u"显示",        u"鼠标", u"网络", u"系统",
                                               u"Installable", u"声音", u"串行"};
      info.FileSubtype =
          std::u16string(fixed->dwFileSubtype < 11 ? kKinds[fixed->dwFileSubtype] : u"") +
          u"驱动程序";
    }
  }

  if (!VerQueryValueW(buffer.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4)
    return true;
  const auto* translation = static_cast<const WORD*>(value);
  wchar_t key[9];
  swprintf(key, 9, L"%04X%04X", translation[0], translation[1]);
  const std::pair<const wchar_t*, std::u16string*> names[] = {
      {L"FileDescription", &info.FileDescription},   {L"ProductName", &info.ProductName},
      {L"OriginalFilename", &info.OriginalFilename}, {L"InternalName", &info.InternalName},
      {L"CompanyName", &info.CompanyName},           {L"LegalCopyright", &info.LegalCopyright}};
  for (const auto& [name, field] : names) {
    const std::wstring block = std::wstring(L"\\StringFileInfo\\") + key + L"\\" + name;
    if (VerQueryValueW(buffer.data(), block.c_str(), &value, &length)) {
      const auto* text = static_cast<const wchar_t*>(value);
      std::size_t n = 0;
      while (n < length && text[n] != 0) ++n;
      *field = FromWide(std::wstring_view(text, n));
    }
  }
  return true;
}

std::vector<std::u16string> Fields(const VersionInfo& i) {
  return {i.FileName,         i.FilePath,        Decimal(static_cast<unsigned>(i.FileSize)),
          i.FileVersion,      i.FileFlags,       i.FileOS,
          i.FileType,         i.FileSubtype,     i.StrucVersion,
          i.ProductVersion,   i.FileDescription, i.ProductName,
          i.OriginalFilename, i.InternalName,    i.CompanyName,
          i.LegalCopyright};
}

const char* const kNames[] = {
    "FileName",         "FilePath",       "FileSize",        "FileVersion",
    "FileFlags",        "FileOS",         "FileType",        "FileSubtype",
    "StrucVersion",     "ProductVersion", "FileDescription", "ProductName",
    "OriginalFilename", "InternalName",   "CompanyName",     "LegalCopyright"};

void AddFiles(const std::u16string& argument, std::vector<std::u16string>& files) {
  const DWORD attributes = GetFileAttributesW(Wide(argument).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    files.push_back(argument);
    return;
  }
  for (const wchar_t* pattern : {L"\\*.exe", L"\\*.dll"}) {
    WIN32_FIND_DATAW found{};
    const sealupdate::win::UniqueHandle<FindTraits> find(
        FindFirstFileW((Wide(argument) + pattern).c_str(), &found));
    if (!find) continue;
    do {
      files.push_back(argument + u"\\" + FromWide(found.cFileName));
    } while (FindNextFileW(find.get(), &found));
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: verinfo_compare FILE|FOLDER...\n", stderr);
    return 2;
  }
  std::vector<std::u16string> files;
  for (int i = 1; i < argc; ++i) AddFiles(FromWide(argv[i]), files);

  int withVersion = 0, without = 0, mismatches = 0;
  for (const std::u16string& file : files) {
    VersionInfo expected;
    const bool services = ReadWithVersionServices(file, expected);
    const auto parsed = sealupdate::ReadVersionInfo(file);
    if (services != parsed.has_value()) {
      std::printf("MISMATCH %s: a version resource for the version services: %d, the parser: %d\n",
                  Utf8(file).c_str(), services, parsed.has_value());
      ++mismatches;
      continue;
    }
    (services ? withVersion : without) += 1;
    const auto want = Fields(expected), got = Fields(parsed.value_or(VersionInfo{}));
    for (std::size_t f = 0; f < want.size(); ++f) {
      if (want[f] == got[f]) continue;
      std::printf("MISMATCH %s: %s: version services \"%s\", parser \"%s\"\n", Utf8(file).c_str(),
                  kNames[f], Utf8(want[f]).c_str(), Utf8(got[f]).c_str());
      ++mismatches;
    }
  }
  std::printf("%d files with a version resource and %d without compared, %d mismatches\n",
              withVersion, without, mismatches);
  return mismatches == 0 && withVersion > 0 ? 0 : 1;
}
