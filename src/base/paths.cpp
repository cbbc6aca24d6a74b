// Path containment by Windows rules, decided on the text alone.
#include "base/paths.h"

#include <optional>
#include <string>
#include <vector>

#include "base/text.h"

namespace sealupdate {
namespace {

// A path reduced to its root ("c:", "\\server\share" or "\") and its segments, lower-cased.
struct NormalPath {
  std::u16string root;
  std::vector<std::u16string> segments;
};

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsAsciiLetter(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

std::optional<NormalPath> Normalize(std::u16string_view raw) {
  std::u16string text = ToLowerUnits(raw);
  for (auto& c : text) {
    if (c == u'/') c = u'\\';
  }
  std::u16string_view rest = text;
  bool unc = false;
  for (std::u16string_view prefix : {u"\\\\?\\", u"\\\\.\\", u"\\??\\"}) {
    if (!StartsWith(rest, prefix)) continue;
    rest.remove_prefix(prefix.size());
    if (StartsWith(rest, u"unc\\")) {
      rest.remove_prefix(4);
      unc = true;
    }
    break;
  }
  NormalPath path;
  if (!unc && rest.size() >= 2 && rest[1] == u':' && IsAsciiLetter(rest[0])) {
    path.root = std::u16string(rest.substr(0, 2));
    rest.remove_prefix(2);
    if (!rest.empty() && rest[0] != u'\\') return std::nullopt;  // "C:x" is drive-relative
  } else if (unc || StartsWith(rest, u"\\\\")) {
    unc = true;
  } else if (StartsWith(rest, u"\\")) {
    path.root = u"\\";
  } else {
    return std::nullopt;
  }
  const std::vector<std::u16string> pieces = Split(rest, u"\\");
  auto piece = pieces.begin();
  if (unc) {
    // The server and its share form the root, which ".." cannot climb out of.
    std::u16string names[2];
    for (auto& name : names) {
      while (piece != pieces.end() && piece->empty()) ++piece;
      if (piece == pieces.end() || *piece == u"." || *piece == u"..") return std::nullopt;
      name = *piece++;
    }
    path.root = u"\\\\" + names[0] + u"\\" + names[1];
  }
  for (; piece != pieces.end(); ++piece) {
    if (piece->empty() || *piece == u".") continue;
    if (*piece == u"..") {
      if (path.segments.empty()) return std::nullopt;
      path.segments.pop_back();
      continue;
    }
    path.segments.push_back(*piece);
  }
  return path;
}

}  // namespace

bool IsInsideFolder(std::u16string_view path, std::u16string_view folder) {
  const auto file = Normalize(path);
  const auto base = Normalize(folder);
  if (!file || !base || file->root != base->root) return false;
  if (file->segments.size() <= base->segments.size()) return false;
  for (std::size_t i = 0; i < base->segments.size(); ++i) {
    if (file->segments[i] != base->segments[i]) return false;
  }
  return true;
}

}  // namespace sealupdate
