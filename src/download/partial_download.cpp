// The partial-body record's format and the decisions whether a body may be continued.
#include "download/partial_download.h"

#include "base/text.h"
#include "download/url_policy.h"

namespace sealupdate {
namespace {

bool HasLineBreak(std::u16string_view text) {
  return text.find_first_of(u"\r\n") != std::u16string_view::npos;
}

// The line of `text` up to its "\n", which it removes; nullopt when no "\n" ends it.
std::optional<std::string_view> TakeLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  const std::string_view line = text.substr(0, end);
  text.remove_prefix(end + 1);
  return line;
}

// Only text as FormatPartialRecord writes it: well-formed UTF-8 (no replacement characters
// standing in for other bytes) without a CR, a total without leading zeros.
bool IsCanonicalUtf8(std::string_view line) {
  return line.find('\r') == std::string_view::npos && Utf16ToUtf8(Utf8ToUtf16(line)) == line;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view digits) {
  if (digits.empty() || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::optional<std::string> FormatPartialRecord(const PartialRecord& record) {
  if (HasLineBreak(record.url) || HasLineBreak(record.validator)) return std::nullopt;
  return Utf16ToUtf8(record.url) + "\n" + Utf16ToUtf8(record.validator) + "\n" +
         std::to_string(record.total) + "\n";
}

std::optional<PartialRecord> ParsePartialRecord(std::string_view text) {
  const std::optional<std::string_view> url = TakeLine(text);
  const std::optional<std::string_view> validator = url ? TakeLine(text) : std::nullopt;
  const std::optional<std::string_view> total = validator ? TakeLine(text) : std::nullopt;
  // The last "\n" is required too: a record cut short while written may end in part of its total.
  if (!total || !text.empty() || url->empty() || validator->empty() || !IsCanonicalUtf8(*url) ||
      !IsCanonicalUtf8(*validator)) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> length = ParseDecimal(*total);
  if (!length) return std::nullopt;
  return PartialRecord{Utf8ToUtf16(*url), Utf8ToUtf16(*validator), *length};
}

bool MayContinue(std::u16string_view validator, std::uint64_t have, std::uint64_t total) {
  return !validator.empty() && have > 0 && have < total;
}

bool MayResumePartial(const PartialRecord& record, std::u16string_view url, std::uint64_t have) {
  return record.url == url && MayContinue(record.validator, have, record.total);
}

RangeAnswer JudgeRangeAnswer(const RangeRequest& request, const RangeReply& reply) {
  if (request.offset == 0 || reply.status != 206) return RangeAnswer::kWhole;
  const std::optional<ContentRange> range = ParseContentRange(reply.contentRange);
  if (!range || range->first != request.offset || range->last + 1 != range->total ||
      range->total != request.total || reply.contentLength != range->total - range->first) {
    return RangeAnswer::kMismatch;
  }
  // A server that honours Range but not If-Range would splice another version's bytes on.
  if (!reply.validator.empty() && reply.validator != request.validator) {
    return RangeAnswer::kMismatch;
  }
  return RangeAnswer::kRest;
}

}  // namespace sealupdate
