// File services on Windows, by UTF-16 path.
#include "platform/files.h"
#include "platform/win32.h"

#include <knownfolders.h>
#include <shlobj.h>

#include "base/text.h"

namespace sealupdate {

struct InputFile::Impl {
  win::UniqueFileHandle file;
};

InputFile::InputFile(std::unique_ptr<Impl> impl, std::uint64_t size)
    : impl_(std::move(impl)), size_(size) {}
InputFile::InputFile(InputFile&&) noexcept = default;
InputFile& InputFile::operator=(InputFile&&) noexcept = default;
InputFile::~InputFile() = default;

std::optional<InputFile> InputFile::Open(const std::u16string& path) {
  auto impl = std::make_unique<Impl>();
  impl->file.reset(CreateFileW(win::Wide(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!impl->file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(impl->file.get(), &size) || size.QuadPart < 0) return std::nullopt;
  return InputFile(std::move(impl), static_cast<std::uint64_t>(size.QuadPart));
}

bool InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset > size_ || length > size_ - offset) return false;
  auto* out = static_cast<char*>(buffer);
  while (length > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD got = 0;
    if (!ReadFile(impl_->file.get(), out, chunk, &got, &at) || got == 0) return false;
    out += got;
    offset += got;
    length -= got;
  }
  return true;
}

bool WriteWholeFile(const std::u16string& path, std::string_view bytes) {
  win::UniqueFileHandle file(CreateFileW(win::Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
      return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool PathExists(const std::u16string& path) {
  return GetFileAttributesW(win::Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::u16string GetOwnExePath() {
  // The buffer grows until the whole path fits: no 260- or 255-character limit.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return win::FromWide(buffer);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool CreateFolderTree(const std::u16string& folder) {
  const std::wstring path = win::Wide(folder);
  // Create each missing folder from the top; the parts that cannot be created (a drive, the
  // server and share of a UNC path) must already exist, which the final check tells.
  for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
    if (at == 0 || path[at - 1] == L':' || path[at - 1] == L'\\') continue;
    const std::wstring part = path.substr(0, at);
    if (GetFileAttributesW(part.c_str()) == INVALID_FILE_ATTRIBUTES) {
      CreateDirectoryW(part.c_str(), nullptr);
    }
  }
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CanWriteInFolder(const std::u16string& folder) {
  const bool ends = !folder.empty() && (folder.back() == u'\\' || folder.back() == u'/');
  if (!CreateFolderTree(ends ? folder : folder + u"\\")) return false;
  // A name no package takes; deleted on close whatever happens to this process.
  const std::wstring probe = win::Wide(folder) + L"\\sealupdate-write-test.tmp";
  win::UniqueFileHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                         nullptr));
  return static_cast<bool>(file);
}

namespace {

void RemoveTree(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  // A junction or link is removed itself, never followed into what it points at.
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    RemoveAllBut(win::FromWide(path), {});
    RemoveDirectoryW(path.c_str());
  } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    RemoveDirectoryW(path.c_str());
  } else {
    DeleteFileW(path.c_str());
  }
}

}  // namespace

void RemoveAllBut(const std::u16string& folder, const std::vector<std::u16string>& keep) {
  const std::wstring base = win::Wide(folder) + L"\\";
  WIN32_FIND_DATAW found{};
  win::UniqueFind find(FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &found,
                                        FindExSearchNameMatch, nullptr, 0));
  if (!find) return;
  std::vector<std::wstring> doomed;
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    const std::u16string wide = win::FromWide(name);
    bool kept = false;
    for (const std::u16string& k : keep) kept = kept || EqualsIgnoreCase(wide, k);
    if (!kept) doomed.push_back(base + std::wstring(name));
  } while (FindNextFileW(find.get(), &found));
  for (const std::wstring& path : doomed) RemoveTree(path);
}

// Bound when first used, from the system folder: importing ole32 would load it (and COM's
// start-up) on every run, though only a download into the per-user folder needs it.
std::u16string LocalAppDataFolder() {
  using KnownFolderFn = HRESULT(WINAPI*)(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR*);
  using FreeFn = void(WINAPI*)(LPVOID);
  const HMODULE shell = LoadLibraryExW(L"shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  const HMODULE ole = LoadLibraryExW(L"ole32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!shell || !ole) return {};
  const auto knownFolder = reinterpret_cast<KnownFolderFn>(
      reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")));
  const auto free =
      reinterpret_cast<FreeFn>(reinterpret_cast<void*>(GetProcAddress(ole, "CoTaskMemFree")));
  if (!knownFolder || !free) return {};
  // FOLDERID_LocalAppData, spelled out so no GUID library is linked for it.
  static constexpr KNOWNFOLDERID kLocalAppData = {
      0xF1B32785, 0x6FBA, 0x4FCF, {0x9D, 0x55, 0x7B, 0x8E, 0x7F, 0x15, 0x70, 0x91}};
  PWSTR path = nullptr;
  std::u16string folder;
  if (SUCCEEDED(knownFolder(kLocalAppData, KF_FLAG_DEFAULT, nullptr, &path)))
    folder = win::FromWide(path);
  free(path);  // also when the call failed, as its contract asks
  return folder;
}

std::u16string LongPathOf(const std::u16string& path) {
  const std::wstring wide = win::Wide(path);
  const DWORD needed = GetLongPathNameW(wide.c_str(), nullptr, 0);
  if (needed == 0) return path;
  std::wstring buffer(needed, L'\0');
  const DWORD written = GetLongPathNameW(wide.c_str(), buffer.data(), needed);
  if (written == 0 || written >= needed) return path;
  buffer.resize(written);
  return win::FromWide(buffer);
}

}  // namespace sealupdate
