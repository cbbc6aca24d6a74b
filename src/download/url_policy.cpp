// The reader's portable rules: fragments, RFC 3986 reference resolution, the redirect policy,
// content codings, read sizes and the slowest rate a transfer may keep.
#include "download/url_policy.h"

#include <algorithm>
#include <optional>

#include "download/url_reader.h"

namespace sealupdate {
namespace {

bool IsAlpha(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

std::u16string ToLower(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = Lower(c);
  return out;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// The five components of a URI reference (RFC 3986 section 3); an absent component is
// nullopt, which differs from a present empty one ("http://h?" has an empty query).
struct Reference {
  std::optional<std::u16string_view> scheme;
  std::optional<std::u16string_view> authority;
  std::u16string_view path;
  std::optional<std::u16string_view> query;
  std::optional<std::u16string_view> fragment;
};

// Length of the scheme of `text` (before its ':'), or 0 when it starts with none.
std::size_t SchemeLength(std::u16string_view text) {
  if (text.empty() || !IsAlpha(text[0])) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u':') return i;
    if (!IsAlpha(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'-' && c != u'.') break;
  }
  return 0;
}

Reference Parse(std::u16string_view text) {
  Reference ref;
  if (const std::size_t hash = text.find(u'#'); hash != std::u16string_view::npos) {
    ref.fragment = text.substr(hash + 1);
    text = text.substr(0, hash);
  }
  if (const std::size_t question = text.find(u'?'); question != std::u16string_view::npos) {
    ref.query = text.substr(question + 1);
    text = text.substr(0, question);
  }
  if (const std::size_t length = SchemeLength(text); length > 0) {
    ref.scheme = text.substr(0, length);
    text = text.substr(length + 1);
  }
  if (text.substr(0, 2) == u"//") {
    text = text.substr(2);
    const std::size_t slash = std::min(text.find(u'/'), text.size());
    ref.authority = text.substr(0, slash);
    text = text.substr(slash);
  }
  ref.path = text;
  return ref;
}

// RFC 3986 section 5.2.4.
std::u16string RemoveDotSegments(std::u16string_view input) {
  std::u16string output;
  while (!input.empty()) {
    if (input.substr(0, 3) == u"../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == u"./") {
      input.remove_prefix(2);
    } else if (input.substr(0, 3) == u"/./") {
      input.remove_prefix(2);
    } else if (input == u"/.") {
      input = u"/";
    } else if (input.substr(0, 4) == u"/../" || input == u"/..") {
      input = input.size() == 3 ? std::u16string_view(u"/") : input.substr(3);
      const std::size_t last = output.rfind(u'/');
      output.erase(last == std::u16string::npos ? 0 : last);
    } else if (input == u"." || input == u"..") {
      input = {};
    } else {
      const std::size_t next = std::min(input.find(u'/', 1), input.size());
      output.append(input.substr(0, next));
      input.remove_prefix(next);
    }
  }
  return output;
}

// RFC 3986 section 5.2.3.
std::u16string Merge(const Reference& base, std::u16string_view path) {
  std::u16string out;
  if (base.authority && base.path.empty()) {
    out = u"/";
  } else if (const std::size_t slash = base.path.rfind(u'/'); slash != std::u16string_view::npos) {
    out.assign(base.path.substr(0, slash + 1));
  }
  out.append(path);
  return out;
}

}  // namespace

std::u16string StripFragment(std::u16string_view url) {
  return std::u16string(url.substr(0, url.find(u'#')));
}

std::u16string UrlScheme(std::u16string_view url) {
  return ToLower(url.substr(0, SchemeLength(url)));
}

std::u16string ResolveUrl(std::u16string_view base, std::u16string_view reference) {
  const Reference b = Parse(base);
  if (!b.scheme) return {};
  const Reference r = Parse(Trim(reference));
  Reference t;
  std::u16string path;
  if (r.scheme) {
    t = r;
    path = RemoveDotSegments(r.path);
  } else {
    t.scheme = b.scheme;
    t.query = r.query;
    if (r.authority) {
      t.authority = r.authority;
      path = RemoveDotSegments(r.path);
    } else {
      t.authority = b.authority;
      if (r.path.empty()) {
        path = std::u16string(b.path);
        if (!r.query) t.query = b.query;
      } else if (r.path.front() == u'/') {
        path = RemoveDotSegments(r.path);
      } else {
        path = RemoveDotSegments(Merge(b, r.path));
      }
    }
  }
  std::u16string out(*t.scheme);
  out += u':';
  if (t.authority) out += u"//" + std::u16string(*t.authority);
  out += path;
  if (t.query) out += u"?" + std::u16string(*t.query);
  if (r.fragment) out += u"#" + std::u16string(*r.fragment);
  return out;
}

bool IsRedirectStatus(std::uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

RedirectStep NextRedirect(std::u16string_view current, std::u16string_view location, int followed) {
  RedirectStep step;
  if (followed >= kMaxRedirects) {
    step.error = TransferFailure::kTooManyRedirects;
    return step;
  }
  if (Trim(location).empty()) {
    step.error = TransferFailure::kBadRedirect;
    return step;
  }
  const std::u16string target = StripFragment(ResolveUrl(current, location));
  const std::u16string scheme = UrlScheme(target);
  const Reference parsed = Parse(target);
  if ((scheme != u"http" && scheme != u"https") || !parsed.authority || parsed.authority->empty()) {
    step.error = TransferFailure::kBadRedirect;  // ftp:, file:, mailto: ... or no host to ask
  } else if (scheme == u"http" && UrlScheme(current) == u"https") {
    step.error = TransferFailure::kRedirectToHttp;
  } else {
    step.url = target;
  }
  return step;
}

bool IsIdentityEncoding(std::u16string_view contentEncoding) {
  // A list of codings applied in order ("gzip, identity" is still gzip).
  while (!contentEncoding.empty()) {
    const std::size_t comma = std::min(contentEncoding.find(u','), contentEncoding.size());
    const std::u16string_view coding = Trim(contentEncoding.substr(0, comma));
    if (!coding.empty() && ToLower(coding) != u"identity") return false;
    contentEncoding.remove_prefix(std::min(comma + 1, contentEncoding.size()));
  }
  return true;
}

bool IsRetryable(TransferError error, bool bodyStarted) {
  switch (error.kind) {
    case TransferFailure::kBodyShort:
    case TransferFailure::kNoResponse:
    case TransferFailure::kTooSlow:
      return true;
    case TransferFailure::kHttpStatus:
      return error.code >= 500 || error.code == 408 || error.code == 429;
    case TransferFailure::kSystem:
      // ERROR_INTERNET_TIMEOUT, _CONNECTION_ABORTED, _CONNECTION_RESET, _INVALID_SERVER_RESPONSE.
      return bodyStarted || error.code == 12002 || error.code == 12030 || error.code == 12031 ||
             error.code == 12152;
    default:
      return false;
  }
}

std::uint32_t BackoffMs(std::uint32_t firstMs, std::uint32_t retry) {
  if (retry >= 32) return firstMs == 0 ? 0 : 0xFFFF'FFFFu;
  const std::uint64_t ms = static_cast<std::uint64_t>(firstMs) << retry;
  return ms > 0xFFFF'FFFFu ? 0xFFFF'FFFFu : static_cast<std::uint32_t>(ms);
}

std::optional<ContentRange> ParseContentRange(std::u16string_view header) {
  std::u16string_view rest = Trim(header);
  constexpr std::u16string_view kUnit = u"bytes ";
  if (rest.size() < kUnit.size() || ToLower(rest.substr(0, kUnit.size())) != kUnit) {
    return std::nullopt;
  }
  rest.remove_prefix(kUnit.size());
  // One number up to `end`, digits only, without overflow.
  const auto number = [&rest](char16_t end) -> std::optional<std::uint64_t> {
    std::uint64_t value = 0;
    std::size_t i = 0;
    for (; i < rest.size() && rest[i] >= u'0' && rest[i] <= u'9'; ++i) {
      if (value > (UINT64_MAX - 9) / 10) return std::nullopt;
      value = value * 10 + static_cast<std::uint64_t>(rest[i] - u'0');
    }
    if (i == 0 || (end != 0 ? i >= rest.size() || rest[i] != end : i != rest.size())) {
      return std::nullopt;
    }
    rest.remove_prefix(end != 0 ? i + 1 : i);
    return value;
  };
  const std::optional<std::uint64_t> first = number(u'-');
  const std::optional<std::uint64_t> last = first ? number(u'/') : std::nullopt;
  const std::optional<std::uint64_t> total = last ? number(0) : std::nullopt;
  if (!total || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

std::uint32_t ReadPacer::Next(std::uint64_t arrived) const {
  const std::uint64_t wanted = SizeByArrival() ? arrived : paced_;
  return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(wanted, 1, bufferSize_));
}

void ReadPacer::Record(std::uint64_t bytes, std::uint64_t elapsedUs) {
  sampleBytes_ += bytes;
  sampleUs_ += elapsedUs;
  if (sampleBytes_ < kMinPacedRead) return;  // too little seen to judge the link
  paced_ = std::min<std::uint64_t>(sampleBytes_, std::uint64_t{bufferSize_} * 2) * kPaceWindowUs /
           std::max<std::uint64_t>(sampleUs_, 1);
  sampleBytes_ = 0;
  sampleUs_ = 0;
}

SlowTransferWatch::SlowTransferWatch(std::uint64_t startMs, std::uint32_t windowMs,
                                     std::uint32_t minBytesPerSecond)
    : windowMs_(windowMs),
      minBytesPerSecond_(minBytesPerSecond),
      stepMs_(std::max<std::uint32_t>(windowMs / 16, 1)),
      samples_{{startMs, 0}} {}

bool SlowTransferWatch::TooSlow(std::uint64_t nowMs, std::uint64_t bytes) {
  if (nowMs >= samples_.back().ms + stepMs_) samples_.push_back({nowMs, bytes});
  while (samples_.size() > 1 && samples_[1].ms + windowMs_ <= nowMs) samples_.pop_front();
  const Sample& from = samples_.front();
  if (from.ms + windowMs_ > nowMs || bytes < from.bytes) return false;
  // arrived / span < min / 1000, in whole numbers: arrived < ceil(min * span / 1000).
  const std::uint64_t span = nowMs - from.ms;
  return bytes - from.bytes < (std::uint64_t{minBytesPerSecond_} * span + 999) / 1000;
}

}  // namespace sealupdate
