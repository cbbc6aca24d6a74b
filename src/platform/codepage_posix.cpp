// The ANSI code page through iconv (GBK stands in for code page 936 natively).
#include <errno.h>
#include <iconv.h>

#include <string>

#include "platform/codepage.h"

namespace sealupdate {
namespace {

constexpr unsigned kNativeAnsiCodePage = 936;

std::string IconvName(unsigned codePage) {
  switch (codePage) {
    case 65001:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    case 936:
      return "GBK";
    default:
      return "CP" + std::to_string(codePage);
  }
}

// Converts with iconv. With `lenient`, invalid or unmappable input is replaced by `replacement`
// (as the Windows conversions do) instead of failing.
std::optional<std::string> Convert(const char* to, const char* from, std::string_view in,
                                   bool lenient, std::string_view replacement,
                                   std::size_t inputUnit) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
  std::string out;
  std::string buffer(4096, '\0');
  char* inPtr = const_cast<char*>(in.data());
  std::size_t inLeft = in.size();
  bool ok = true;
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    out.append(buffer.data(), buffer.size() - outLeft);
    if (r != static_cast<std::size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    if (!lenient) {
      ok = false;
      break;
    }
    // EILSEQ or EINVAL (truncated sequence): skip one input unit and emit the replacement.
    std::size_t skip = inLeft < inputUnit ? inLeft : inputUnit;
    if (inputUnit == 2 && inLeft >= 4 && (static_cast<unsigned char>(inPtr[1]) & 0xFC) == 0xD8) {
      skip = 4;  // a whole surrogate pair is one character
    }
    inPtr += skip;
    inLeft -= skip;
    out.append(replacement);
  }
  iconv_close(cd);
  if (!ok) return std::nullopt;
  return out;
}

std::u16string FromUtf16Le(const std::string& bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return out;
}

std::string ToUtf16Le(std::u16string_view text) {
  std::string bytes(text.size() * 2, '\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
  }
  return bytes;
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view bytes) {
  const std::string replacement("\xFD\xFF", 2);  // U+FFFD
  auto out =
      Convert("UTF-16LE", IconvName(kNativeAnsiCodePage).c_str(), bytes, true, replacement, 1);
  return out ? FromUtf16Le(*out) : std::u16string();
}

std::string Utf16ToAnsi(std::u16string_view text) {
  auto out =
      Convert(IconvName(kNativeAnsiCodePage).c_str(), "UTF-16LE", ToUtf16Le(text), true, "?", 2);
  return out.value_or(std::string());
}

std::optional<std::u16string> CodePageToUtf16(std::string_view bytes, unsigned codePage) {
  auto out = Convert("UTF-16LE", IconvName(codePage).c_str(), bytes, false, "", 1);
  if (!out) return std::nullopt;
  return FromUtf16Le(*out);
}

std::optional<std::string> Utf16ToCodePage(std::u16string_view text, unsigned codePage) {
  return Convert(IconvName(codePage).c_str(), "UTF-16LE", ToUtf16Le(text), false, "", 2);
}

}  // namespace sealupdate
