// The ANSI code page through MultiByteToWideChar / WideCharToMultiByte.
#include "platform/codepage.h"

#include <climits>

#include "platform/win32.h"

namespace sealupdate {
namespace {

std::optional<std::u16string> ToUtf16(std::string_view bytes, UINT codePage, DWORD flags) {
  if (bytes.empty()) return std::u16string();
  if (bytes.size() > INT_MAX) return std::nullopt;
  const int n = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(codePage, flags, bytes.data(), n, nullptr, 0);
  if (units <= 0) return std::nullopt;
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), n, out.data(), units);
  return win::FromWide(out);
}

std::optional<std::string> FromUtf16(std::u16string_view text, UINT codePage, bool strict) {
  if (text.empty()) return std::string();
  if (text.size() > INT_MAX) return std::nullopt;
  const std::wstring wide = win::Wide(text);
  const int n = static_cast<int>(wide.size());
  // UTF-7/UTF-8 and some others reject WC_NO_BEST_FIT_CHARS and the default-char query.
  const bool canCheck = codePage != CP_UTF8 && codePage != CP_UTF7 && codePage < 50000;
  const DWORD flags = strict && canCheck ? WC_NO_BEST_FIT_CHARS : 0;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultArg = strict && canCheck ? &usedDefault : nullptr;
  const int bytes =
      WideCharToMultiByte(codePage, flags, wide.data(), n, nullptr, 0, nullptr, usedDefaultArg);
  if (bytes <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, flags, wide.data(), n, out.data(), bytes, nullptr, usedDefaultArg);
  if (usedDefault) return std::nullopt;
  if (strict && codePage == CP_UTF8) {
    // Unpaired surrogates have no UTF-8 form (the system would write U+FFFD silently).
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char16_t c = text[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] <= 0xDFFF) {
        ++i;
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        return std::nullopt;
      }
    }
  }
  return out;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes) {
  return ToUtf16(bytes, CP_ACP, 0).value_or(std::u16string());
}

std::string Utf16ToAnsi(std::u16string_view text) {
  return FromUtf16(text, CP_ACP, false).value_or(std::string());
}

std::optional<std::u16string> CodePageToUtf16(std::string_view bytes, unsigned codePage) {
  return ToUtf16(bytes, codePage, MB_ERR_INVALID_CHARS);
}

std::optional<std::string> Utf16ToCodePage(std::u16string_view text, unsigned codePage) {
  return FromUtf16(text, codePage, true);
}

}  // namespace sealupdate
