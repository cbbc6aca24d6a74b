// What the URL reader decides without the network: the address it sends, where a redirect
// leads and whether to follow it, which content codings it accepts, how much each read asks for
// and when a transfer is too slow to go on. Portable, so every rule is tested natively;
// url_reader_win.cpp applies them to WinINet.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "download/transfer_error.h"

namespace sealupdate {

inline constexpr int kMaxRedirects = 10;  // the 11th redirect of one read fails it

// `url` without its fragment (from the first '#'): a fragment is never sent to a server.
std::u16string StripFragment(std::u16string_view url);

// The scheme of an absolute URL in lower case ("http"); empty when `url` has none.
std::u16string UrlScheme(std::u16string_view url);

// Resolves `reference` (a Location value, relative or absolute) against the absolute URL `base`
// as RFC 3986 section 5.2 does, dot segments removed. Empty when `base` is not absolute.
std::u16string ResolveUrl(std::u16string_view base, std::u16string_view reference);

// 301, 302, 303, 307 and 308; every other 3xx is an answer like any other non-2xx status.
bool IsRedirectStatus(std::uint32_t status);

struct RedirectStep {
  TransferError error;  // none, or why the redirect ends the read
  std::u16string url;   // the next address to request, fragment stripped
};

// The step from `current` (the address just requested) to its Location header `location`
// (empty when the answer had none), after `followed` redirects of the same read: only to
// http or https, never from https to http, at most kMaxRedirects in all.
RedirectStep NextRedirect(std::u16string_view current, std::u16string_view location, int followed);

// True for a body sent as it is: no Content-Encoding header (empty) or only "identity". The
// reader decodes nothing, so anything else (gzip ...) must not be taken for the body.
bool IsIdentityEncoding(std::u16string_view contentEncoding);

// Whether a failed attempt at a file body is worth another try at the same address: a
// connection closed, reset or timed out, a body cut short, stalled or too slow, a read that
// failed once the answer had begun (`bodyStarted`), and the answers that ask for a later try
// (5xx, 408, 429). Other answers, refused connections, names that do not resolve and file
// failures go straight to the next address.
bool IsRetryable(TransferError error, bool bodyStarted);

// The wait before retry number `retry` (0 for the first): `firstMs`, doubled each time.
std::uint32_t BackoffMs(std::uint32_t firstMs, std::uint32_t retry);

// A Content-Range header of a 206 answer: bytes `first` to `last` (inclusive) of `total`.
struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
};
// Parses "bytes FIRST-LAST/TOTAL"; nullopt for anything else (an unknown total "*" included, or
// a range that does not fit in its total).
std::optional<ContentRange> ParseContentRange(std::u16string_view header);

// Sizes each read of a body. A synchronous WinINet read returns only when its buffer is full or
// the body ends, so a read larger than what arrives soon hides progress on a slow link, while
// small reads cost throughput on a fast one (each takes a round trip through the socket layer).
// Until the link has shown its rate, and while that rate is slow, a read asks for what has
// already arrived (the caller asks the library how much that is). The rate is judged over at
// least kMinPacedRead bytes, waits included: one read served from data that happened to be
// waiting says nothing about the link. Once the rate fills kMinPacedRead within kPaceWindowUs,
// a read asks for what arrives in about that window, up to the whole buffer.
class ReadPacer {
 public:
  static constexpr std::uint64_t kPaceWindowUs = 100'000;  // the progress message interval
  static constexpr std::uint32_t kMinPacedRead = 64 * 1024;

  explicit ReadPacer(std::uint32_t bufferSize) : bufferSize_(bufferSize) {}

  // True when the next read should be sized by what has arrived (see Next).
  bool SizeByArrival() const { return paced_ < kMinPacedRead; }
  // The size of the next read, from 1 (so the end of the body is seen) to the buffer size.
  // `arrived` is what the library holds ready; it counts only when SizeByArrival().
  std::uint32_t Next(std::uint64_t arrived) const;
  // Records one read of `bytes`, `elapsedUs` after the previous one ended (or the body began).
  void Record(std::uint64_t bytes, std::uint64_t elapsedUs);

 private:
  std::uint32_t bufferSize_;
  std::uint64_t paced_ = 0;        // bytes the last measured rate brings within kPaceWindowUs
  std::uint64_t sampleBytes_ = 0;  // the reads since that measure
  std::uint64_t sampleUs_ = 0;
};

// Tells a transfer too slow to go on: one whose bytes over the last `windowMs` (up to a
// sixteenth more) average under `minBytesPerSecond`. A server that sends a byte now and then stays
// under any silence limit; this catches it, while a slow real link stays above the rate. Nothing
// is judged before a whole window has passed since `startMs`. It keeps one observation per
// sixteenth of the window, however often it is fed.
class SlowTransferWatch {
 public:
  SlowTransferWatch(std::uint64_t startMs, std::uint32_t windowMs, std::uint32_t minBytesPerSecond);

  // How often observing is worth it: observations closer together are not kept.
  std::uint32_t IntervalMs() const { return stepMs_; }
  // Records that `bytes` had arrived in all by `nowMs` (never earlier than the last observation)
  // and tells whether the transfer is too slow.
  bool TooSlow(std::uint64_t nowMs, std::uint64_t bytes);

 private:
  struct Sample {
    std::uint64_t ms;
    std::uint64_t bytes;
  };
  std::uint32_t windowMs_;
  std::uint32_t minBytesPerSecond_;
  std::uint32_t stepMs_;
  std::deque<Sample> samples_;  // the oldest is the newest at least a window old, once there is one
};

}  // namespace sealupdate
