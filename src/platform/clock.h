// The wall-clock seam. Task start times and transfer rates use whole seconds of local time.
#pragma once

#include <cstdint>

namespace sealupdate {

class Clock {
 public:
  virtual ~Clock() = default;
  // Local wall-clock time in whole seconds since a fixed origin; only differences are used.
  virtual std::int64_t NowSeconds() = 0;
};

Clock& SystemClock();

}  // namespace sealupdate
