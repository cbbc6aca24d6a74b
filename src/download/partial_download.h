// The record that lets a later run continue a partial body, and the decisions whether a body
// may be continued: from disk, by a retry, and by a server's answer to a range request.
// Portable, so every rule is tested natively; read_body_win.cpp and url_reader_win.cpp apply them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sealupdate {

// Beside a partial body SAVE.part lies its record SAVE.part.info: three lines, each ending in
// "\n", the address (UTF-8), the validator (UTF-8) and the body's total length in decimal.
struct PartialRecord {
  std::u16string url;
  std::u16string validator;  // a strong ETag, else Last-Modified, as If-Range carries it
  std::uint64_t total = 0;
};

// The record's text; nullopt when a line break in the address or the validator would make it
// read back as another record.
std::optional<std::string> FormatPartialRecord(const PartialRecord& record);
// The record in `text`; nullopt unless it is exactly what FormatPartialRecord writes: three
// lines with an address and a validator in well-formed UTF-8 and a total of decimal digits alone,
// without leading zeros, that fits in 64 bits.
std::optional<PartialRecord> ParsePartialRecord(std::string_view text);

// Whether a body of which `have` bytes are there may be continued with a range request: there
// is something to continue, a validator to tell this very body by, and a known rest.
bool MayContinue(std::u16string_view validator, std::uint64_t have, std::uint64_t total);
// Whether the `have` bytes of a partial file with `record` continue the body of `url`: the
// record names that very address, and MayContinue holds for its validator and total.
bool MayResumePartial(const PartialRecord& record, std::u16string_view url, std::uint64_t have);

// How an answer carries the body requested from `offset` on (0: the whole body).
enum class RangeAnswer {
  kWhole,     // the whole body: it replaces what is there
  kRest,      // exactly the rest of this very body
  kMismatch,  // a 206 that cannot continue it: the next attempt starts over
};

// What a request for the body from `offset` on, sent with If-Range `validator`, expected of a
// body of `total` bytes, and the answer's status, Content-Length (0: none), Content-Range and
// validator (empty: none). A range request answered with anything but 206 sends the whole body;
// a 206 continues it only with the range from `offset` to the end of the same total, as many
// bytes as that range, and no validator but the one sent.
struct RangeRequest {
  std::uint64_t offset = 0;
  std::uint64_t total = 0;
  std::u16string_view validator;
};
struct RangeReply {
  std::uint32_t status = 0;
  std::uint64_t contentLength = 0;
  std::u16string_view contentRange;
  std::u16string_view validator;
};
RangeAnswer JudgeRangeAnswer(const RangeRequest& request, const RangeReply& reply);

}  // namespace sealupdate
