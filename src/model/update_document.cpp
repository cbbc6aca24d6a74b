// Decoding and validating the update document a server sends.
#include "model/update_document.h"

#include <algorithm>

#include "base/encoding.h"
#include "base/text.h"
#include "model/document_trust.h"
#include "model/ini_document.h"
#include "platform/codepage.h"

namespace sealupdate {
namespace {

constexpr char16_t kSection[] = u"UpdateInfo";

std::u16string Utf16Bytes(std::string_view bytes, bool bigEndian) {
  std::u16string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    text.push_back(
        static_cast<char16_t>(bigEndian ? (first << 8) | second : (second << 8) | first));
  }
  return text;
}

std::u16string CrLfLineEnds(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit == u'\r' || unit == u'\n') {
      out += u"\r\n";
      if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out += unit;
    }
  }
  return out;
}

bool HasDigit(std::u16string_view text) {
  return std::any_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::optional<std::uint64_t> ParseDecimal(std::u16string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - u'0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<int> ParsePercent(std::u16string_view text) {
  const std::optional<std::uint64_t> value = text.size() <= 3 ? ParseDecimal(text) : std::nullopt;
  if (!value || *value > 100) return std::nullopt;
  return static_cast<int>(*value);
}

std::optional<Sha256Digest> ParseDigest(std::u16string_view text) {
  std::string ascii;
  for (const char16_t c : text) ascii += c < 0x80 ? static_cast<char>(c) : 'x';
  const auto raw = HexDecode(ascii);
  if (!raw || raw->size() != Sha256Digest().size()) return std::nullopt;
  Sha256Digest digest;
  std::copy(raw->begin(), raw->end(), digest.begin());
  return digest;
}

// Reads one integrity field: absent stays absent, present must parse, and present but empty or
// blank is malformed too (never read as absent). The first malformed field is the one named.
template <typename T, typename Parse>
void ReadField(bool present, const std::u16string& text, Parse parse, std::optional<T>& into,
               const char* problem, std::string& malformed) {
  if (!present) return;
  into = parse(TrimSpaces(text));
  if (!into && malformed.empty()) malformed = problem;
}

}  // namespace

std::u16string DecodeUpdateDocument(std::string_view bytes) {
  std::u16string text;
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    text = Utf8ToUtf16(bytes.substr(3));
  } else if (bytes.substr(0, 2) == "\xFF\xFE") {
    text = Utf16Bytes(bytes.substr(2), false);
  } else if (bytes.substr(0, 2) == "\xFE\xFF") {
    text = Utf16Bytes(bytes.substr(2), true);
  } else {
    text = AnsiToUtf16(bytes);
  }
  return CrLfLineEnds(text);
}

std::optional<UpdateDocument> ParseUpdateDocument(std::string_view bytes) {
  IniDocument ini;
  ini.SetText(DecodeUpdateDocument(bytes));
  const auto sections = ini.SectionNames();
  const bool hasSection = std::any_of(sections.begin(), sections.end(), [](const auto& name) {
    return EqualsIgnoreCase(name, kSection);
  });
  if (!hasSection) return std::nullopt;
  const auto get = [&](const char16_t* key) { return ini.GetKey(kSection, key, u""); };
  UpdateDocument document;
  document.version = get(u"Version");
  if (!HasDigit(document.version)) return std::nullopt;
  document.homeUrl = get(u"HomeURL");
  document.appId = TrimSpaces(get(u"AppId"));
  document.modifySuffix = get(u"ModifySuffix");
  document.downloadUrls = Split(get(u"DownloadURL"), u"|");
  document.mainExeNames = Split(get(u"MainExeName"), u"|");
  for (auto& name : Split(get(u"KillExeName"), u"|")) document.mainExeNames.push_back(name);
  const std::u16string text = get(u"UpdateText");
  if (!TrimSpaces(text).empty()) document.updateText = text;
  const std::vector<std::u16string> keys = ini.KeyNames(kSection);
  const auto present = [&](std::u16string_view key) {
    return std::any_of(keys.begin(), keys.end(),
                       [&](const auto& name) { return EqualsIgnoreCase(name, key); });
  };
  std::string& malformed = document.malformedField;
  ReadField(present(u"Size"), get(u"Size"), ParseDecimal, document.packageSize,
            "Size is not a decimal length", malformed);
  ReadField(present(u"SHA256"), get(u"SHA256"), ParseDigest, document.packageSha256,
            "SHA256 is not 64 hexadecimal digits", malformed);
  ReadField(present(u"Expires"), get(u"Expires"), ParseUtcTime, document.expires,
            "Expires is not YYYY-MM-DDTHH:MM:SSZ", malformed);
  ReadField(present(u"Rollout"), get(u"Rollout"), ParsePercent, document.rollout,
            "Rollout is not an integer from 0 to 100", malformed);
  return document;
}

}  // namespace sealupdate
