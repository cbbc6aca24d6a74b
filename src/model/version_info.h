// Reads the version resource of a Windows executable or library (PE32 or PE32+) by
// parsing the file itself, so the client, the tool and the native tests share one reader. Every
// offset and length read from the file is checked before use: a malformed file gives nothing or
// missing fields, never a read outside the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_reader.h"

namespace sealupdate {

// What the reader found; the caller passes it empty and fields the file does not carry keep
// what the caller put there.
struct VersionInfo {
  std::u16string FileName;     // after the last path separator
  std::u16string FilePath;     // the path as given, without leading and trailing spaces
  std::int32_t FileSize = 0;   // bytes; files of 2 GiB or more give INT32_MAX
  std::u16string FileVersion;  // a.b.c.d
  std::u16string FileFlags;    // "Debug PreRel " ...: each present flag word and one space
  std::u16string FileOS;       // label + "操作系统"
  std::u16string FileType;
  std::u16string FileSubtype;     // drivers only: kind + "驱动程序"
  std::u16string StrucVersion;    // a.b
  std::u16string ProductVersion;  // a.b.c.d
  std::u16string FileDescription;
  std::u16string ProductName;
  std::u16string OriginalFilename;
  std::u16string InternalName;
  std::u16string CompanyName;
  std::u16string LegalCopyright;
};

// The version information of the file at `path` (spaces around it ignored): nullopt when it
// cannot be opened or carries no version resource. Parts of a resource that are missing or
// malformed leave their fields empty.
std::optional<VersionInfo> ReadVersionInfo(std::u16string_view path);

// The bytes of the image's version resource: type 16, name 1 (else the first name), language
// neutral, else U.S. English, else the first. nullopt when the image has none, is not a PE
// image, or any part of the way to it lies outside the image.
std::optional<std::string> FindVersionResource(ByteView& image);

// Fills fields 4 to 16 from a version resource the way the version services read it: sub-block
// names compared without regard to letter case, the string table chosen by the first
// translation entry. A part that is missing or does not fit leaves its fields as they were.
void ReadVersionResource(std::string_view resource, VersionInfo& Info);

}  // namespace sealupdate
