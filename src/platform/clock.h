// The clock seam. Task start times and transfer rates use whole seconds of a monotonic clock;
// only expiry dates use the wall clock.
#pragma once

#include <cstdint>

namespace sealupdate {

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds since a fixed origin that never moves backwards; only differences are used.
  virtual std::int64_t NowSeconds() = 0;
  // The same clock in milliseconds, for the diagnostic trail's timings.
  virtual std::int64_t NowMilliseconds() { return NowSeconds() * 1000; }
};

Clock& SystemClock();

// The wall clock: seconds since 1970-01-01 UTC, for dates that documents name. No time zone.
std::int64_t UtcSecondsNow();

}  // namespace sealupdate
