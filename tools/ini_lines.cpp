#include "ini_lines.h"

#include <algorithm>
#include <optional>

namespace sealupdate::tool {
namespace {

struct Line {
  std::string text;
  std::string end;  // "\r\n", "\n", "\r", or "" for a last line without one
};

std::vector<Line> SplitLines(std::string_view bytes) {
  std::vector<Line> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const std::size_t stop = std::min(bytes.find_first_of("\r\n", at), bytes.size());
    std::size_t next = stop;
    if (next < bytes.size()) next += bytes.substr(next, 2) == "\r\n" ? 2 : 1;
    lines.push_back(
        {std::string(bytes.substr(at, stop - at)), std::string(bytes.substr(stop, next - stop))});
    at = next;
  }
  return lines;
}

std::string JoinLines(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + line.end;
  return out;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

// The section name of a header line "[name]", or nullopt for any other line.
std::optional<std::string_view> HeaderName(const Line& line) {
  const std::string_view text = TrimBlanks(line.text);
  if (text.size() < 2 || text.front() != '[' || text.back() != ']') return std::nullopt;
  return text.substr(1, text.size() - 2);
}

std::string_view KeyOf(const Line& line) {
  const std::size_t equals = line.text.find('=');
  if (equals == std::string::npos) return {};
  return TrimBlanks(std::string_view(line.text).substr(0, equals));
}

}  // namespace

std::string SetIniKeys(std::string_view bytes, std::string_view section, const IniKeys& keys) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  const bool bom = bytes.substr(0, kBom.size()) == kBom;
  std::vector<Line> lines = SplitLines(bom ? bytes.substr(kBom.size()) : bytes);
  const std::string newline =
      !lines.empty() && !lines.front().end.empty() ? lines.front().end : "\r\n";
  enum { kBefore, kInFirst, kAfter } first = kBefore;  // the first section of that name
  std::vector<Line> kept;
  std::size_t insertAt = 0;  // in `kept`, once the first section is found
  bool inSection = false;
  for (Line& line : lines) {
    if (const auto name = HeaderName(line)) {
      inSection = SameLetters(*name, section);
      if (first == kInFirst) first = kAfter;
      if (inSection && first == kBefore) {
        first = kInFirst;
        insertAt = kept.size() + 1;
      }
    } else if (inSection) {
      const std::string_view key = KeyOf(line);
      const bool replaced = std::any_of(keys.begin(), keys.end(), [&](const auto& entry) {
        return !key.empty() && SameLetters(key, entry.first);
      });
      if (replaced) continue;
      if (first == kInFirst && !TrimBlanks(line.text).empty()) insertAt = kept.size() + 1;
    }
    kept.push_back(std::move(line));
  }
  std::vector<Line> added;
  if (first == kBefore) {
    added.push_back({"[" + std::string(section) + "]", newline});
    insertAt = kept.size();
  }
  for (const auto& [key, value] : keys) added.push_back({key + "=" + value, newline});
  if (insertAt > 0 && kept[insertAt - 1].end.empty()) kept[insertAt - 1].end = newline;
  kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(insertAt), added.begin(), added.end());
  return (bom ? std::string(kBom) : std::string()) + JoinLines(kept);
}

std::string WithoutSignatureSection(std::string_view bytes) {
  std::vector<Line> kept;
  bool inSignature = false;
  for (Line& line : SplitLines(bytes)) {
    if (line.text == "[Signature]") {
      inSignature = true;
      continue;
    }
    if (inSignature && HeaderName(line)) inSignature = false;
    if (!inSignature) kept.push_back(std::move(line));
  }
  // The signed bytes end with CR LF, so "[Signature]" starts a line however the rest ends.
  if (!kept.empty()) kept.back().end = "\r\n";
  return JoinLines(kept);
}

}  // namespace sealupdate::tool
