// Conversions between 8-bit code pages and UTF-16. Bytes from files, the network and the sealed
// block enter the program only through these functions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sealupdate {

// The system ANSI code page: CP_ACP on Windows; code page 936 (GBK) in the native build, the
// code page of the systems the client is made for.
std::u16string AnsiToUtf16(std::string_view bytes);
// Units the ANSI code page cannot hold become the platform's replacement character.
std::string Utf16ToAnsi(std::u16string_view text);

// Strict conversions with an explicit code page. nullopt when the code page is unknown, the
// bytes are not valid in it, or (towards the code page) a character cannot be represented.
std::optional<std::u16string> CodePageToUtf16(std::string_view bytes, unsigned codePage);
std::optional<std::string> Utf16ToCodePage(std::u16string_view text, unsigned codePage);

}  // namespace sealupdate
