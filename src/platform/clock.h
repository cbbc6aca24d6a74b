// The clock seam. Task start times and transfer rates use whole seconds of a monotonic clock.
#pragma once

#include <cstdint>

namespace sealupdate {

class Clock {
 public:
  virtual ~Clock() = default;
  // Whole seconds since a fixed origin that never moves backwards; only differences are used.
  virtual std::int64_t NowSeconds() = 0;
};

Clock& SystemClock();

}  // namespace sealupdate
