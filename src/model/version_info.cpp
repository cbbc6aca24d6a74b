// The version-resource reader: the resource tree of the image and the version block, every
// offset bounds-checked.
#include "model/version_info.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "base/byte_reader.h"
#include "base/text.h"
#include "model/pe_image.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

// Every read below lies inside bytes the caller has already measured; should one not, it reads 0
// rather than past the end.
std::uint16_t U16(std::string_view s, std::size_t at) {
  return ReadLittle<std::uint16_t>(s, at).value_or(0);
}
std::uint32_t U32(std::string_view s, std::size_t at) {
  return ReadLittle<std::uint32_t>(s, at).value_or(0);
}

// ---- The resource directory ----

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVersionInfoName = 1;  // the name the version services look for
constexpr std::uint32_t kLanguageNeutral = 0x0000;
constexpr std::uint32_t kLanguageEnglishUs = 0x0409;
constexpr std::uint32_t kHighBit = 0x80000000u;
// A version block's length is 16 bits: nothing past this is ever looked at.
constexpr std::uint32_t kMaxResourceBytes = 0x10000;

struct DirectoryEntry {
  std::uint32_t name;    // high bit: offset of a name string; else an integer ID
  std::uint32_t target;  // high bit: offset of a subdirectory; else of a data entry
};

bool ReadDirectory(const PeImage& image, std::uint64_t rva, std::vector<DirectoryEntry>& entries) {
  const std::optional<std::string> head = image.ReadRva(rva, 16);
  if (!head) return false;
  const std::size_t count = std::size_t{U16(*head, 12)} + U16(*head, 14);
  const std::optional<std::string> raw = image.ReadRva(rva + 16, count * 8);
  if (!raw) return false;
  entries.clear();
  for (std::size_t i = 0; i < count; ++i)
    entries.push_back({U32(*raw, i * 8), U32(*raw, i * 8 + 4)});
  return true;
}

const DirectoryEntry* FindId(const std::vector<DirectoryEntry>& entries, std::uint32_t id) {
  for (const DirectoryEntry& e : entries) {
    if (!(e.name & kHighBit) && e.name == id) return &e;
  }
  return nullptr;
}

// ---- The version block tree ----

std::size_t Align4(std::size_t n) { return (n + 3) & ~std::size_t{3}; }

// One node of VS_VERSIONINFO: length, value length, type, key, value, children. Offsets are
// into the resource; `end` never lies past the parent's end.
struct Block {
  std::size_t end = 0;
  std::size_t keyStart = 0;
  std::size_t keyUnits = 0;
  std::size_t value = 0;     // may lie at or past `end` when the block has no value
  std::size_t children = 0;  // likewise
  std::uint16_t valueLength = 0;
};

// Parses the block header at `at` inside [at, limit). False when its key has no terminator
// inside the block.
bool ParseBlock(std::string_view res, std::size_t at, std::size_t limit, Block& b) {
  if (at > limit || limit - at < 6) return false;
  b.end = std::min(limit, at + U16(res, at));
  if (b.end - at < 6) return false;
  const std::uint16_t type = U16(res, at + 4);
  b.valueLength = U16(res, at + 2);
  b.keyStart = at + 6;
  std::size_t p = b.keyStart;
  while (p + 2 <= b.end && U16(res, p) != 0) p += 2;
  if (p + 2 > b.end) return false;
  b.keyUnits = (p - b.keyStart) / 2;
  b.value = at + Align4(p + 2 - at);
  b.children = b.value + Align4(std::size_t{b.valueLength} * (type ? 2 : 1));
  return true;
}

bool KeyEquals(std::string_view res, const Block& b, std::u16string_view name) {
  if (b.keyUnits != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (ToLowerUnit(U16(res, b.keyStart + 2 * i)) != ToLowerUnit(name[i])) return false;
  }
  return true;
}

// The first child named `name` (letter case ignored), as VerQueryValue finds it.
bool FindChild(std::string_view res, const Block& parent, std::u16string_view name, Block& out) {
  std::size_t at = parent.children;
  while (at < parent.end && parent.end - at >= 2) {
    const std::uint16_t length = U16(res, at);
    if (length == 0) return false;
    if (ParseBlock(res, at, parent.end, out) && KeyEquals(res, out, name)) return true;
    at += Align4(length);
  }
  return false;
}

bool FindPath(std::string_view res, const Block& root,
              std::initializer_list<std::u16string_view> path, Block& out) {
  out = root;
  for (std::u16string_view name : path) {
    Block child;
    if (!FindChild(res, out, name, child)) return false;
    out = child;
  }
  return true;
}

// ---- Field texts ----

std::u16string Decimal(std::uint32_t n) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  return digits;
}

std::u16string Halves(std::uint32_t word) {
  return Decimal(word >> 16) + u'.' + Decimal(word & 0xFFFF);
}

std::u16string Hex4(std::uint32_t n) {
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string out(4, u'0');
  for (int i = 3; i >= 0; --i, n >>= 4) out[static_cast<std::size_t>(i)] = kDigits[n & 0xF];
  return out;
}

std::u16string FlagWords(std::uint32_t flags) {
  static constexpr const char16_t* kWords[] = {u"Debug ",   u"PreRel ", u"Patched ",
                                               u"Private ", u"Info ",   u"Special "};
  std::u16string out;
  for (std::size_t bit = 0; bit < 6; ++bit) {
    if (flags & (1u << bit)) out += kWords[bit];
  }
  return out;
}

std::u16string OsLabel(std::uint32_t os) {
  switch (os) {
    case 0x1:
      return u"Win16位";
    case 0x4:
      return u"Win32位";
    case 0x10000:
      return u"DOS";
    case 0x10001:
      return u"DOS-Win16";
    case 0x10004:
      return u"DOS-Win32";
    case 0x20002:
      return u"OS/2-16 PM-16";
    case 0x30003:
      return u"OS/2-16 PM-32";
    case 0x40004:
      return u"NT-Win32";
    default:
      return u"未知";
  }
}

std::u16string TypeLabel(std::uint32_t type) {
  switch (type) {
    case 1:
      return u"应用程序";
    case 2:
      return u"动态连接库";
    case 3:
      return u"驱动程序";
    case 4:
      return u"字体";
    case 5:
      return u"VxD";
    case 7:
      return u"Lib";
    default:
      return u"未知";
  }
}

std::u16string DriverKind(std::uint32_t subtype) {
  static constexpr const char16_t* kKinds[] = {u"未知",        u"打印", u"键盘", u"语言模块",
                                               u"显示",        u"鼠标", u"网络", u"系统",
                                               u"Installable", u"声音", u"串行"};
  return subtype < std::size(kKinds) ? kKinds[subtype] : u"";
}

void ReadFixedInfo(std::string_view res, const Block& root, VersionInfo& info) {
  constexpr std::size_t kFixedBytes = 52;
  if (root.valueLength < kFixedBytes || root.value > root.end ||
      root.end - root.value < kFixedBytes || U32(res, root.value) != 0xFEEF04BDu)
    return;
  const auto word = [&](std::size_t index) { return U32(res, root.value + 4 * index); };
  info.strucVersion = Halves(word(1));
  info.fileVersion = Halves(word(2)) + u'.' + Halves(word(3));
  info.productVersion = Halves(word(4)) + u'.' + Halves(word(5));
  info.fileFlags = FlagWords(word(7));  // unmasked: the mask in word 6 is not applied
  info.fileOs = OsLabel(word(8)) + u"操作系统";
  info.fileType = TypeLabel(word(9));
  if (word(9) == 3) info.fileSubtype = DriverKind(word(10)) + u"驱动程序";
}

// The value of a string block: its text up to the terminating NUL, never past the block.
std::u16string StringValue(std::string_view res, const Block& b) {
  std::u16string text;
  for (std::size_t p = b.value; p < b.end && b.end - p >= 2; p += 2) {
    const char16_t unit = U16(res, p);
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

}  // namespace

std::optional<std::string> FindVersionResource(ByteView& file) {
  const std::optional<PeImage> image = PeImage::Read(file);
  const std::optional<PeDirectory> resources =
      image ? image->Directory(kPeResourceDirectory) : std::nullopt;
  if (!resources || resources->address == 0) return std::nullopt;
  const std::uint32_t root = resources->address;

  // Three levels: type, name, language. Each step must lead to a subdirectory, the last to data.
  std::vector<DirectoryEntry> entries;
  if (!ReadDirectory(*image, root, entries)) return std::nullopt;
  const DirectoryEntry* type = FindId(entries, kRtVersion);
  if (!type || !(type->target & kHighBit)) return std::nullopt;
  const std::uint32_t names = type->target & ~kHighBit;

  if (!ReadDirectory(*image, std::uint64_t{root} + names, entries) || entries.empty())
    return std::nullopt;
  const DirectoryEntry* name = FindId(entries, kVersionInfoName);
  if (!name) name = &entries.front();
  if (!(name->target & kHighBit)) return std::nullopt;
  const std::uint32_t languages = name->target & ~kHighBit;

  // The loader's choice without a user language: neutral, then U.S. English, then the first.
  if (!ReadDirectory(*image, std::uint64_t{root} + languages, entries) || entries.empty())
    return std::nullopt;
  const DirectoryEntry* language = FindId(entries, kLanguageNeutral);
  if (!language) language = FindId(entries, kLanguageEnglishUs);
  if (!language) language = &entries.front();
  if (language->target & kHighBit) return std::nullopt;
  const std::uint32_t dataEntry = language->target;

  const std::optional<std::string> data = image->ReadRva(std::uint64_t{root} + dataEntry, 16);
  if (!data) return std::nullopt;
  const std::uint32_t rva = U32(*data, 0);
  const std::uint64_t length =
      std::min<std::uint64_t>({U32(*data, 4), kMaxResourceBytes, image->AvailableAt(rva)});
  if (length == 0) return std::nullopt;
  return image->ReadRva(rva, static_cast<std::size_t>(length));
}

void ReadVersionResource(std::string_view res, VersionInfo& info) {
  Block root;
  if (!ParseBlock(res, 0, res.size(), root)) return;
  ReadFixedInfo(res, root, info);

  Block translation;
  if (!FindPath(res, root, {u"VarFileInfo", u"Translation"}, translation) ||
      translation.value > translation.end || translation.end - translation.value < 4)
    return;
  const std::uint32_t first = U32(res, translation.value);
  const std::u16string key = Hex4(first & 0xFFFF) + Hex4(first >> 16);

  Block table;
  if (!FindPath(res, root, {u"StringFileInfo", key}, table)) return;
  const std::pair<std::u16string_view, std::u16string*> names[] = {
      {u"FileDescription", &info.fileDescription},   {u"ProductName", &info.productName},
      {u"OriginalFilename", &info.originalFilename}, {u"InternalName", &info.internalName},
      {u"CompanyName", &info.companyName},           {u"LegalCopyright", &info.legalCopyright}};
  for (const auto& [name, field] : names) {
    Block value;
    if (FindChild(res, table, name, value)) *field = StringValue(res, value);
  }
}

std::optional<VersionInfo> ReadVersionInfo(std::u16string_view path) {
  const std::u16string trimmed = TrimSpaces(path);
  auto file = InputFile::Open(trimmed);
  if (!file) return std::nullopt;
  const std::optional<std::string> resource = FindVersionResource(*file);
  if (!resource) return std::nullopt;

  VersionInfo info;
  info.filePath = trimmed;
  info.fileSize = static_cast<std::int32_t>(std::min<std::uint64_t>(file->Size(), INT32_MAX));
  info.fileName = FileNameOf(trimmed);
  ReadVersionResource(*resource, info);
  return info;
}

}  // namespace sealupdate
