// The version-resource reader: PE headers, the resource tree and the version block, every
// offset bounds-checked.
#include "model/version_info.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "base/text.h"
#include "platform/files.h"

namespace sealupdate {

namespace {

std::uint16_t LittleU16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t LittleU32(const unsigned char* p) {
  return static_cast<std::uint32_t>(LittleU16(p)) |
         (static_cast<std::uint32_t>(LittleU16(p + 2)) << 16);
}

}  // namespace

bool IsCompletePeImage(ByteView& image) {
  const std::uint64_t size = image.Size();
  unsigned char dos[64];
  if (!image.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
  const std::uint64_t nt = LittleU32(dos + 0x3C);
  unsigned char head[24];
  if (!image.ReadAt(nt, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) return false;
  const std::uint16_t sectionCount = LittleU16(head + 6);
  const std::uint16_t optionalSize = LittleU16(head + 20);
  unsigned char optional[64];  // up to SizeOfHeaders, the same offset in PE32 and PE32+
  if (sectionCount == 0 || optionalSize < sizeof optional ||
      !image.ReadAt(nt + 24, optional, sizeof optional)) {
    return false;
  }
  const std::uint16_t magic = LittleU16(optional);
  if (magic != 0x10B && magic != 0x20B) return false;
  if (LittleU32(optional + 60) > size) return false;  // SizeOfHeaders
  std::vector<unsigned char> table(std::size_t{sectionCount} * 40);
  if (!image.ReadAt(nt + 24 + optionalSize, table.data(), table.size())) return false;
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const unsigned char* section = table.data() + i * 40;
    const std::uint64_t rawSize = LittleU32(section + 16);
    const std::uint64_t rawOffset = LittleU32(section + 20);
    if (rawSize > 0 && rawOffset + rawSize > size) return false;
  }
  return true;
}

namespace {

std::uint16_t U16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t U16(std::string_view s, std::size_t at) {
  return U16(reinterpret_cast<const unsigned char*>(s.data()) + at);
}
std::uint32_t U32(std::string_view s, std::size_t at) {
  return U32(reinterpret_cast<const unsigned char*>(s.data()) + at);
}

// ---- PE image: headers, sections and the resource directory ----

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVersionInfoName = 1;  // the name the version services look for
constexpr std::uint32_t kLanguageNeutral = 0x0000;
constexpr std::uint32_t kLanguageEnglishUs = 0x0409;
constexpr std::uint32_t kHighBit = 0x80000000u;
// A version block's length is 16 bits: nothing past this is ever looked at.
constexpr std::uint32_t kMaxResourceBytes = 0x10000;

struct Section {
  std::uint32_t virtualAddress;
  std::uint32_t extent;  // bytes addressable from virtualAddress
  std::uint32_t rawSize;
  std::uint32_t rawOffset;
};

class Image {
 public:
  explicit Image(ByteView& file) : file_(file) {}

  // Reads the headers; false when this is no PE image or they do not lie inside the file.
  bool Load(std::uint32_t& resourceRva) {
    unsigned char dos[64];
    if (!file_.ReadAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const std::uint64_t nt = U32(dos + 0x3C);
    unsigned char head[24];
    if (!file_.ReadAt(nt, head, sizeof head) || std::memcmp(head, "PE\0\0", 4) != 0) return false;
    const std::uint16_t sectionCount = U16(head + 6);
    const std::uint16_t optionalSize = U16(head + 20);

    std::vector<unsigned char> optional(optionalSize);
    if (optionalSize < 2 || !file_.ReadAt(nt + 24, optional.data(), optional.size())) return false;
    std::size_t countAt = 0;
    switch (U16(optional.data())) {
      case 0x10B:  // PE32
        countAt = 92;
        break;
      case 0x20B:  // PE32+
        countAt = 108;
        break;
      default:
        return false;
    }
    const std::size_t resourceEntryAt = countAt + 4 + 2 * 8;
    if (optional.size() < resourceEntryAt + 8 || U32(optional.data() + countAt) <= 2) return false;
    resourceRva = U32(optional.data() + resourceEntryAt);
    if (resourceRva == 0) return false;

    std::vector<unsigned char> table(std::size_t{sectionCount} * 40);
    if (!file_.ReadAt(nt + 24 + optionalSize, table.data(), table.size())) return false;
    sections_.reserve(sectionCount);
    for (std::size_t i = 0; i < sectionCount; ++i) {
      const unsigned char* s = table.data() + i * 40;
      const std::uint32_t virtualSize = U32(s + 8);
      const std::uint32_t rawSize = U32(s + 16);
      sections_.push_back({U32(s + 12), std::max(virtualSize, rawSize), rawSize, U32(s + 20)});
    }
    return true;
  }

  // Bytes addressable from `rva` inside its section (0 when no section holds it).
  std::uint64_t Available(std::uint64_t rva) const {
    const Section* s = SectionOf(rva);
    return s ? s->extent - (rva - s->virtualAddress) : 0;
  }

  // Reads `length` bytes at a virtual address as the loader maps them: from the section's raw
  // data, zeros past its end. The range must lie inside one section.
  bool ReadRva(std::uint64_t rva, void* buffer, std::size_t length) const {
    const Section* s = SectionOf(rva);
    if (!s) return false;
    const std::uint64_t within = rva - s->virtualAddress;
    if (length > s->extent - within) return false;
    const std::uint64_t raw = within < s->rawSize ? s->rawSize - within : 0;
    const std::size_t fromFile = static_cast<std::size_t>(std::min<std::uint64_t>(length, raw));
    if (fromFile > 0 && !file_.ReadAt(std::uint64_t{s->rawOffset} + within, buffer, fromFile))
      return false;
    if (length > fromFile)
      std::memset(static_cast<unsigned char*>(buffer) + fromFile, 0, length - fromFile);
    return true;
  }

 private:
  const Section* SectionOf(std::uint64_t rva) const {
    for (const Section& s : sections_) {
      if (rva >= s.virtualAddress && rva - s.virtualAddress < s.extent) return &s;
    }
    return nullptr;
  }

  ByteView& file_;
  std::vector<Section> sections_;
};

struct DirectoryEntry {
  std::uint32_t name;    // high bit: offset of a name string; else an integer ID
  std::uint32_t target;  // high bit: offset of a subdirectory; else of a data entry
};

bool ReadDirectory(const Image& image, std::uint64_t rva, std::vector<DirectoryEntry>& entries) {
  unsigned char head[16];
  if (!image.ReadRva(rva, head, sizeof head)) return false;
  const std::size_t count = std::size_t{U16(head + 12)} + U16(head + 14);
  std::vector<unsigned char> raw(count * 8);
  if (!image.ReadRva(rva + 16, raw.data(), raw.size())) return false;
  entries.clear();
  for (std::size_t i = 0; i < count; ++i)
    entries.push_back({U32(raw.data() + i * 8), U32(raw.data() + i * 8 + 4)});
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
  info.StrucVersion = Halves(word(1));
  info.FileVersion = Halves(word(2)) + u'.' + Halves(word(3));
  info.ProductVersion = Halves(word(4)) + u'.' + Halves(word(5));
  info.FileFlags = FlagWords(word(7));  // unmasked: the mask in word 6 is not applied
  info.FileOS = OsLabel(word(8)) + u"操作系统";
  info.FileType = TypeLabel(word(9));
  if (word(9) == 3) info.FileSubtype = DriverKind(word(10)) + u"驱动程序";
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
  Image image(file);
  std::uint32_t root = 0;
  if (!image.Load(root)) return std::nullopt;

  // Three levels: type, name, language. Each step must lead to a subdirectory, the last to data.
  std::vector<DirectoryEntry> entries;
  if (!ReadDirectory(image, root, entries)) return std::nullopt;
  const DirectoryEntry* type = FindId(entries, kRtVersion);
  if (!type || !(type->target & kHighBit)) return std::nullopt;
  const std::uint32_t names = type->target & ~kHighBit;

  if (!ReadDirectory(image, std::uint64_t{root} + names, entries) || entries.empty())
    return std::nullopt;
  const DirectoryEntry* name = FindId(entries, kVersionInfoName);
  if (!name) name = &entries.front();
  if (!(name->target & kHighBit)) return std::nullopt;
  const std::uint32_t languages = name->target & ~kHighBit;

  // The loader's choice without a user language: neutral, then U.S. English, then the first.
  if (!ReadDirectory(image, std::uint64_t{root} + languages, entries) || entries.empty())
    return std::nullopt;
  const DirectoryEntry* language = FindId(entries, kLanguageNeutral);
  if (!language) language = FindId(entries, kLanguageEnglishUs);
  if (!language) language = &entries.front();
  if (language->target & kHighBit) return std::nullopt;
  const std::uint32_t dataEntry = language->target;

  unsigned char data[16];
  if (!image.ReadRva(std::uint64_t{root} + dataEntry, data, sizeof data)) return std::nullopt;
  const std::uint32_t rva = U32(data);
  const std::uint64_t length =
      std::min<std::uint64_t>({U32(data + 4), kMaxResourceBytes, image.Available(rva)});
  if (length == 0) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (!image.ReadRva(rva, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
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
      {u"FileDescription", &info.FileDescription},   {u"ProductName", &info.ProductName},
      {u"OriginalFilename", &info.OriginalFilename}, {u"InternalName", &info.InternalName},
      {u"CompanyName", &info.CompanyName},           {u"LegalCopyright", &info.LegalCopyright}};
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
  info.FilePath = trimmed;
  info.FileSize = static_cast<std::int32_t>(std::min<std::uint64_t>(file->Size(), INT32_MAX));
  info.FileName = FileNameOf(trimmed);
  ReadVersionResource(*resource, info);
  return info;
}

}  // namespace sealupdate
