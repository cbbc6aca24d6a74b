// The in-memory INI document: one stored string, edited in place.
#include "model/ini_document.h"

#include <utility>

#include "base/text.h"
#include "platform/codepage.h"
#include "platform/files.h"

namespace sealupdate {
namespace {

constexpr std::u16string_view kCrLf = u"\r\n";
constexpr std::u16string_view kBreakMark = u"{#br}";

bool EndsWith(std::u16string_view text, std::u16string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

std::u16string EscapeValue(std::u16string_view value) {
  return ReplaceAll(value, kCrLf, kBreakMark);
}

}  // namespace

IniDocument::IniDocument() : IniDocument(FolderOf(GetOwnExePath())) {}

IniDocument::IniDocument(std::u16string clientFolder) : clientFolder_(std::move(clientFolder)) {}

void IniDocument::Store(std::u16string stored) {
  text_ = std::move(stored);
  lower_ = ToLowerUnits(text_);
}

void IniDocument::SetPath(std::u16string_view value) {
  std::u16string path = TrimSpaces(value);
  if (path.size() < 4 || path.back() == u'\\') return;
  if (path.compare(1, 2, u":\\") != 0) {
    path = ReplaceAll(clientFolder_ + u"\\" + path, u"\\\\", u"\\");
  }
  path_ = path;
  // A missing or unreadable file keeps the document that is already loaded.
  if (auto bytes = ReadWholeFile(path_)) SetText(AnsiToUtf16(*bytes));
}

std::u16string IniDocument::Text() const {
  if (text_.size() <= 4) return {};
  return text_.substr(2, text_.size() - 4);
}

void IniDocument::SetText(std::u16string_view value) {
  if (TrimSpaces(value).empty()) return;
  Store(std::u16string(kCrLf) + NormalizeText(value) + std::u16string(kCrLf));
}

std::u16string IniDocument::NormalizeText(std::u16string_view text) {
  std::vector<std::u16string> out;
  bool headerSeen = false;
  for (const auto& rawLine : SplitCrLf(text)) {
    std::u16string line = TrimLeadingSpaces(rawLine);
    if (line.empty()) continue;
    if (line.front() == u'[') {
      // A header needs a closing bracket and a name; whatever follows the bracket is dropped.
      const auto close = line.find(u']');
      if (close == std::u16string::npos) continue;
      const std::u16string name = TrimSpaces(std::u16string_view(line).substr(1, close - 1));
      if (name.empty()) continue;
      if (headerSeen) out.emplace_back();
      headerSeen = true;
      out.push_back(u"[" + name + u"]");
    } else if (const auto eq = line.find(u'='); eq != std::u16string::npos) {
      out.push_back(TrimSpaces(std::u16string_view(line).substr(0, eq)) + line.substr(eq));
    } else {
      out.push_back(std::move(line));
    }
  }
  return Join(out, kCrLf);
}

std::optional<IniDocument::Section> IniDocument::FindSection(std::u16string_view section,
                                                             bool remove) const {
  const std::u16string pattern = u"\r\n[" + ToLowerUnits(section) + u"]\r\n";
  const auto found = lower_.find(pattern);
  if (found == std::u16string::npos) return std::nullopt;

  Section located;
  located.start = found + 2;
  const std::size_t rest = located.start + pattern.size() - 4;  // the CR LF ending the header
  // The body stops before the line break of its last line; the empty line in front of the next
  // header stays outside. A header with no empty line before it (only names holding CR LF make
  // one) ends the body at that line break, never inside it.
  const auto next = text_.find(u"\r\n[", rest);
  std::size_t end = next == std::u16string::npos ? text_.size() : next;
  if (next != std::u16string::npos && next >= rest + 2 && text_.compare(next - 2, 2, kCrLf) == 0) {
    end = next - 2;
  }
  located.text = text_.substr(located.start, end - located.start);

  if (remove) {
    std::u16string before = text_.substr(0, located.start);
    if (next != std::u16string::npos) {
      located.storedWithout = before + text_.substr(next + 2);
    } else {
      // Take the empty line in front of the header with the section. When the header follows
      // other lines directly, their closing line break stays: the document keeps its stored
      // form and those lines.
      if (EndsWith(before, u"\r\n\r\n")) before.resize(before.size() - 2);
      if (before == kCrLf) before.clear();
      located.storedWithout = std::move(before);
    }
  }
  return located;
}

IniDocument::KeyAccess IniDocument::AccessKey(std::u16string_view section, std::u16string_view key,
                                              std::u16string_view value, bool remove) const {
  KeyAccess result;
  const bool writing = !remove && !value.empty();
  const auto located = FindSection(section, false);
  if (!located) {
    if (writing) {
      result.stored = text_ + u"\r\n[" + std::u16string(section) + u"]\r\n" + std::u16string(key) +
                      u"=" + EscapeValue(value) + u"\r\n";
    }
    return result;
  }

  const std::u16string lowerKey = ToLowerUnits(key);
  std::vector<std::u16string> pieces = SplitCrLf(located->text);
  std::size_t match = 0;  // piece 0 is the header, so 0 means none
  std::u16string keyName(key);
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const std::u16string piece = TrimLeadingSpaces(pieces[i]);
    const auto eq = piece.find(u'=');
    if (eq == std::u16string::npos) continue;
    std::u16string key = TrimSpaces(std::u16string_view(piece).substr(0, eq));
    if (ToLowerUnits(key) != lowerKey) continue;
    match = i;
    keyName = std::move(key);
    if (!writing && !remove) result.value = piece.substr(eq + 1);
    break;
  }
  if (!writing && !remove) return result;

  if (remove) {
    if (match != 0) pieces[match].clear();
  } else {
    std::size_t written = match;
    if (match != 0) {
      pieces[match] = keyName + u"=" + EscapeValue(value);
    } else {
      // A new key goes after the section's last line, named as the caller wrote it but lower-case.
      std::u16string line = ToLowerUnits(key) + u"=" + EscapeValue(value);
      if (pieces.back().empty()) {
        pieces.back() = std::move(line);
      } else {
        pieces.push_back(std::move(line));
      }
      written = pieces.size() - 1;
    }
    if (written == pieces.size() - 1) pieces.emplace_back();
  }

  // Folding double line breaks drops the empty line a removed key leaves behind.
  const std::u16string rebuilt = ReplaceAll(Join(pieces, kCrLf), u"\r\n\r\n", kCrLf);
  result.stored = text_.substr(0, located->start) + rebuilt +
                  text_.substr(located->start + located->text.size());
  return result;
}

std::u16string IniDocument::GetKey(std::u16string_view section, std::u16string_view key,
                                   std::u16string_view fallback) const {
  const std::u16string value = AccessKey(section, key, u"", false).value;
  if (value.empty()) return std::u16string(fallback);
  return ReplaceAll(value, kBreakMark, kCrLf);
}

void IniDocument::SetKey(std::u16string_view section, std::u16string_view key,
                         std::u16string_view value) {
  auto access = AccessKey(section, key, value, false);
  if (access.stored) Store(std::move(*access.stored));
  AutoSaveAfterEdit();
}

void IniDocument::RemoveKey(std::u16string_view section, std::u16string_view key) {
  auto access = AccessKey(section, key, u"", true);
  if (access.stored) Store(std::move(*access.stored));
  AutoSaveAfterEdit();
}

void IniDocument::RemoveSection(std::u16string_view section) {
  auto located = FindSection(section, true);
  if (located) Store(std::move(*located->storedWithout));
  AutoSaveAfterEdit();
}

std::vector<std::u16string> IniDocument::KeyNames(std::u16string_view section) const {
  std::vector<std::u16string> names;
  const auto located = FindSection(section, false);
  if (!located) return names;
  const auto pieces = SplitCrLf(located->text);
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const auto eq = pieces[i].find(u'=');
    if (eq != std::u16string::npos) names.push_back(pieces[i].substr(0, eq));
  }
  return names;
}

std::vector<std::u16string> IniDocument::SectionNames() const {
  std::vector<std::u16string> names;
  const auto pieces = Split(text_, u"\r\n[");
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const auto close = pieces[i].find(u']');
    if (close != std::u16string::npos) names.push_back(pieces[i].substr(0, close));
  }
  return names;
}

void IniDocument::AutoSaveAfterEdit() const {
  if (autoSave_) Save(u"");
}

bool IniDocument::Save(std::u16string_view savePath) const {
  const std::u16string path(savePath.empty() ? std::u16string_view(path_) : savePath);
  if (path.empty()) return false;
  // The body is written without a line break after it; loading drops empty lines anyway.
  return WriteWholeFile(path, Utf16ToAnsi(Text()));
}

}  // namespace sealupdate
