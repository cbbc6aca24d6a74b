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
  std::u16string fileName;     // after the last path separator
  std::u16string filePath;     // the path as given, without leading and trailing spaces
  std::int32_t fileSize = 0;   // bytes; files of 2 GiB or more give INT32_MAX
  std::u16string fileVersion;  // a.b.c.d
  std::u16string fileFlags;    // "Debug PreRel " ...: each present flag word and one space
  std::u16string fileOs;       // label + "操作系统"
  std::u16string fileType;
  std::u16string fileSubtype;     // drivers only: kind + "驱动程序"
  std::u16string strucVersion;    // a.b
  std::u16string productVersion;  // a.b.c.d
  std::u16string fileDescription;
  std::u16string productName;
  std::u16string originalFilename;
  std::u16string internalName;
  std::u16string companyName;
  std::u16string legalCopyright;
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
void ReadVersionResource(std::string_view resource, VersionInfo& info);

}  // namespace sealupdate
