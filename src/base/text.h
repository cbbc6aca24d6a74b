// UTF-16 text helpers shared by every layer. Positions are code units; only U+0020 counts as a
// blank when trimming; lower-casing maps each unit to exactly one unit, so a position found in a
// lower-cased copy cuts the original at the same place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sealupdate {

std::u16string TrimSpaces(std::u16string_view text);
std::u16string TrimLeadingSpaces(std::u16string_view text);

char16_t ToLowerUnit(char16_t unit);
std::u16string ToLowerUnits(std::u16string_view text);
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Splits at every occurrence of `separator`, keeping empty pieces ("" gives one empty piece).
std::vector<std::u16string> Split(std::u16string_view text, std::u16string_view separator);
std::vector<std::u16string> SplitCrLf(std::u16string_view text);
std::u16string Join(const std::vector<std::u16string>& pieces, std::u16string_view separator);

// Replaces every occurrence of `from`, left to right, without overlap; the replacement is not
// searched again.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from,
                          std::u16string_view to);

// The leading-number parse: spaces, tabs and line feeds anywhere are ignored, then an optional
// sign, decimal digits with an optional fraction and exponent (E or D), or "&H" and hexadecimal
// digits. Parsing stops at the first unit that cannot continue the number; nothing readable
// gives 0. Up to eight hexadecimal digits are read as a signed 32-bit pattern (&HFFFFFFFF is -1);
// more digits give their plain (large) value.
double ParseLeadingNumber(std::u16string_view text);

// Rounds to the nearest integer, halves to the even neighbour; nullopt when the result lies
// outside the 32-bit signed range (or the value is not a number).
std::optional<std::int32_t> RoundHalfEvenToInt32(double value);
// The same, throwing std::overflow_error where that gives nullopt (the progress bar's contract).
std::int32_t ToInt32RoundHalfEven(double value);

// UTF-8 <-> UTF-16. Invalid input units become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace sealupdate
