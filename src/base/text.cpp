// UTF-16 text helpers, the leading-number parse and half-even rounding.
#include "base/text.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace sealupdate {

std::u16string TrimSpaces(std::u16string_view text) {
  const auto first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  const auto last = text.find_last_not_of(u' ');
  return std::u16string(text.substr(first, last - first + 1));
}

std::u16string TrimLeadingSpaces(std::u16string_view text) {
  const auto first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  return std::u16string(text.substr(first));
}

char16_t ToLowerUnit(char16_t c) {
  if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  // Latin-1 capitals except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  // Latin Extended-A: capitals at even units, except the dotted I (its lower form is two units).
  if (c >= 0x100 && c <= 0x137 && c != 0x130 && (c % 2) == 0) return static_cast<char16_t>(c + 1);
  if (c >= 0x139 && c <= 0x148 && (c % 2) == 1) return static_cast<char16_t>(c + 1);
  if (c >= 0x14A && c <= 0x177 && (c % 2) == 0) return static_cast<char16_t>(c + 1);
  if (c == 0x178) return 0xFF;
  if (c >= 0x179 && c <= 0x17E && (c % 2) == 1) return static_cast<char16_t>(c + 1);
  // Greek and Cyrillic.
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
  if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
  // Full-width Latin capitals, common in text typed with a Chinese input method.
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
  return c;
}

std::u16string ToLowerUnits(std::u16string_view text) {
  std::u16string out(text);
  for (auto& c : out) c = ToLowerUnit(c);
  return out;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ToLowerUnit(a[i]) != ToLowerUnit(b[i])) return false;
  }
  return true;
}

std::vector<std::u16string> Split(std::u16string_view text, std::u16string_view separator) {
  std::vector<std::u16string> pieces;
  if (separator.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t start = 0;
  for (;;) {
    const auto hit = text.find(separator, start);
    if (hit == std::u16string_view::npos) break;
    pieces.emplace_back(text.substr(start, hit - start));
    start = hit + separator.size();
  }
  pieces.emplace_back(text.substr(start));
  return pieces;
}

std::vector<std::u16string> SplitCrLf(std::u16string_view text) { return Split(text, u"\r\n"); }

std::u16string Join(const std::vector<std::u16string>& pieces, std::u16string_view separator) {
  std::u16string out;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i) out += separator;
    out += pieces[i];
  }
  return out;
}

std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from,
                          std::u16string_view to) {
  if (from.empty()) return std::u16string(text);
  std::u16string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (;;) {
    const auto hit = text.find(from, start);
    if (hit == std::u16string_view::npos) break;
    out.append(text.substr(start, hit - start));
    out.append(to);
    start = hit + from.size();
  }
  out.append(text.substr(start));
  return out;
}

namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

double ParseLeadingNumber(std::u16string_view text) {
  std::u16string s;
  s.reserve(text.size());
  for (char16_t c : text) {
    if (c != u' ' && c != u'\t' && c != u'\n') s.push_back(c);
  }

  if (s.size() >= 2 && s[0] == u'&' && (s[1] == u'H' || s[1] == u'h')) {
    double value = 0;
    std::uint32_t low = 0;
    std::size_t digits = 0;
    for (std::size_t i = 2; i < s.size(); ++i) {
      const int d = HexDigit(s[i]);
      if (d < 0) break;
      value = value * 16 + d;
      low = (low << 4) | static_cast<std::uint32_t>(d);
      ++digits;
    }
    if (digits <= 8) return static_cast<double>(static_cast<std::int32_t>(low));
    return value;
  }

  // Collect the longest prefix shaped like [sign] digits [. digits] [E|D [sign] digits] as ASCII.
  std::string number;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) number.push_back(static_cast<char>(s[i++]));
  bool anyDigit = false;
  while (i < s.size() && IsDigit(s[i])) {
    number.push_back(static_cast<char>(s[i++]));
    anyDigit = true;
  }
  if (i < s.size() && s[i] == u'.') {
    number.push_back('.');
    ++i;
    while (i < s.size() && IsDigit(s[i])) {
      number.push_back(static_cast<char>(s[i++]));
      anyDigit = true;
    }
  }
  if (!anyDigit) return 0;
  if (i < s.size() && (s[i] == u'e' || s[i] == u'E' || s[i] == u'd' || s[i] == u'D')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == u'+' || s[j] == u'-'))
      exponent.push_back(static_cast<char>(s[j++]));
    bool expDigit = false;
    while (j < s.size() && IsDigit(s[j])) {
      exponent.push_back(static_cast<char>(s[j++]));
      expDigit = true;
    }
    if (expDigit) number += exponent;
  }

  const char* begin = number.data();
  if (*begin == '+') ++begin;
  double value = 0;
  const auto result = std::from_chars(begin, number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large or too small for a double: keep the sign and the order of magnitude.
    const bool negative = number[0] == '-';
    const bool tiny = number.find("e-") != std::string::npos;
    if (tiny) return 0;
    return negative ? -HUGE_VAL : HUGE_VAL;
  }
  return value;
}

std::optional<std::int32_t> RoundHalfEvenToInt32(double value) {
  if (std::isnan(value)) return std::nullopt;
  const double rounded = std::nearbyint(value);  // default rounding mode: halves to even
  if (rounded < -2147483648.0 || rounded > 2147483647.0) return std::nullopt;
  return static_cast<std::int32_t>(rounded);
}

std::int32_t ToInt32RoundHalfEven(double value) {
  const auto rounded = RoundHalfEvenToInt32(value);
  if (!rounded) throw std::overflow_error("overflow");
  return *rounded;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    std::uint32_t cp = 0xFFFD;
    std::size_t len = 1;
    auto cont = [&](std::size_t k) {
      return i + k < text.size() && (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    };
    auto bits = [&](std::size_t k) { return static_cast<std::uint32_t>(text[i + k] & 0x3F); };
    if (b0 < 0x80) {
      cp = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF && cont(1)) {
      cp = ((b0 & 0x1Fu) << 6) | bits(1);
      len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF && cont(1) && cont(2)) {
      const std::uint32_t v = ((b0 & 0x0Fu) << 12) | (bits(1) << 6) | bits(2);
      if (v >= 0x800 && (v < 0xD800 || v > 0xDFFF)) {
        cp = v;
        len = 3;
      }
    } else if (b0 >= 0xF0 && b0 <= 0xF4 && cont(1) && cont(2) && cont(3)) {
      const std::uint32_t v = ((b0 & 0x07u) << 18) | (bits(1) << 12) | (bits(2) << 6) | bits(3);
      if (v >= 0x10000 && v <= 0x10FFFF) {
        cp = v;
        len = 4;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace sealupdate
