#include "model/document_trust.h"

#include <algorithm>

#include "base/encoding.h"
#include "base/text.h"

namespace sealupdate {
namespace {

constexpr std::string_view kSignatureLine = "[Signature]";
constexpr std::string_view kP256Prefix = "P256=";

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// The offset of the first line that is exactly [Signature], whatever ends the lines, or npos.
std::size_t FindSignatureLine(std::string_view bytes) {
  for (std::size_t at = 0; (at = bytes.find(kSignatureLine, at)) != std::string_view::npos; ++at) {
    const bool startsLine = at == 0 || IsLineEnd(bytes[at - 1]);
    const std::size_t end = at + kSignatureLine.size();
    const bool endsLine = end == bytes.size() || IsLineEnd(bytes[end]);
    if (startsLine && endsLine) return at;
  }
  return std::string_view::npos;
}

std::string_view TrimAscii(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string NarrowAscii(std::u16string_view text) {
  std::string out;
  for (const char16_t unit : text) {
    out += unit < 0x80 ? static_cast<char>(unit) : '\x7F';  // never valid in base64
  }
  return out;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::string CrLfLineEnds(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 32);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!IsLineEnd(bytes[i])) {
      text += bytes[i];
      continue;
    }
    text += "\r\n";
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;  // one CR LF
  }
  return text;
}

SignedDocument SplitSignedDocument(std::string_view bytes) {
  SignedDocument document;
  const std::size_t at = FindSignatureLine(bytes);
  document.signedBytes = bytes.substr(0, at);
  if (at == std::string_view::npos) return document;
  document.hasSignatureSection = true;
  document.signedText = CrLfLineEnds(document.signedBytes);
  std::string_view rest = bytes.substr(at + kSignatureLine.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find_first_of("\r\n");
    const std::string_view line = TrimAscii(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!line.empty() && line.front() == '[') break;  // the next section is not ours
    if (line.substr(0, kP256Prefix.size()) != kP256Prefix) continue;
    const auto raw = Base64Decode(TrimAscii(line.substr(kP256Prefix.size())));
    if (!raw || raw->size() != P256Signature().size()) continue;
    P256Signature signature;
    std::copy(raw->begin(), raw->end(), signature.begin());
    document.signatures.push_back(signature);
  }
  return document;
}

TrustAnchors ParsePublicKeys(std::u16string_view text, int* invalidPieces) {
  TrustAnchors anchors;
  int invalid = 0;
  for (const std::u16string& piece : Split(text, u"|")) {
    const std::u16string trimmed = TrimSpaces(piece);
    if (trimmed.empty()) continue;
    anchors.required = true;
    const auto raw = Base64Decode(NarrowAscii(trimmed));
    if (!raw || raw->size() != P256PublicKey().size() || (*raw)[0] != 0x04) {
      ++invalid;
      continue;
    }
    P256PublicKey key;
    std::copy(raw->begin(), raw->end(), key.begin());
    anchors.keys.push_back(key);
  }
  if (invalidPieces) *invalidPieces = invalid;
  return anchors;
}

std::u16string FormatPublicKey(const P256PublicKey& key) {
  const std::string text = Base64Encode(key.data(), key.size());
  return std::u16string(text.begin(), text.end());
}

std::optional<std::int64_t> ParseUtcTime(std::u16string_view text) {
  // YYYY-MM-DDTHH:MM:SSZ
  constexpr std::u16string_view kShape = u"dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = text[i] >= u'0' && text[i] <= u'9';
    if (kShape[i] == u'd' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t digits) {
    unsigned value = 0;
    for (std::size_t i = at; i < at + digits; ++i) value = value * 10 + (text[i] - u'0');
    return value;
  };
  const unsigned year = number(0, 4), month = number(5, 2), day = number(8, 2);
  const unsigned hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] + (month == 2 && leap ? 1 : 0) ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  return DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

DocumentVerdict CheckUpdateDocument(std::string_view bytes, const TrustAnchors& anchors,
                                    std::int64_t nowUtcSeconds) {
  DocumentVerdict verdict;
  std::string_view readable = bytes;
  if (anchors.required) {
    const SignedDocument split = SplitSignedDocument(bytes);
    readable = split.signedBytes;  // nothing after the signature line is read
    verdict.signature =
        split.signatures.empty() ? SignatureStatus::kMissing : SignatureStatus::kInvalid;
    for (std::size_t k = 0; k < anchors.keys.size() && verdict.keyIndex < 0; ++k) {
      for (const P256Signature& signature : split.signatures) {
        // Either the bytes as they came or the same text with CR LF line ends, so a document
        // whose line ends a checkout or a text-mode transfer changed still verifies.
        if (VerifyP256(anchors.keys[k], split.signedBytes, signature) ||
            (split.signedText != split.signedBytes &&
             VerifyP256(anchors.keys[k], split.signedText, signature))) {
          verdict.signature = SignatureStatus::kValid;
          verdict.keyIndex = static_cast<int>(k);
          break;
        }
      }
    }
  }
  verdict.document = ParseUpdateDocument(readable);
  if (!verdict.document) {
    verdict.refusal = DocumentRefusal::kNotADocument;
  } else if (verdict.signature == SignatureStatus::kMissing) {
    verdict.refusal = DocumentRefusal::kSignatureMissing;
  } else if (verdict.signature == SignatureStatus::kInvalid) {
    verdict.refusal = DocumentRefusal::kSignatureInvalid;
  } else if (!verdict.document->malformedField.empty()) {
    verdict.refusal = DocumentRefusal::kMalformedField;
  } else if (anchors.required &&
             (!verdict.document->packageSize || !verdict.document->packageSha256)) {
    verdict.refusal = DocumentRefusal::kDigestMissing;
  } else if (verdict.document->expires && nowUtcSeconds >= *verdict.document->expires) {
    verdict.refusal = DocumentRefusal::kExpired;
  }
  return verdict;
}

const char* RefusalName(DocumentRefusal refusal) {
  switch (refusal) {
    case DocumentRefusal::kNone:
      return "none";
    case DocumentRefusal::kNotADocument:
      return "not an update document";
    case DocumentRefusal::kSignatureMissing:
      return "signature missing";
    case DocumentRefusal::kSignatureInvalid:
      return "signature invalid";
    case DocumentRefusal::kDigestMissing:
      return "signed part lacks Size or SHA256";
    case DocumentRefusal::kMalformedField:
      return "malformed field";
    case DocumentRefusal::kExpired:
      return "expired";
    case DocumentRefusal::kTooLarge:
      return "too large";
    case DocumentRefusal::kVersionUnreadable:
      return "version unreadable";
    case DocumentRefusal::kNoUsableDownload:
      return "no usable download address";
    case DocumentRefusal::kOtherProduct:
      return "for another product";
  }
  return "refused";
}

}  // namespace sealupdate
