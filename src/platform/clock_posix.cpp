// A monotonic clock in whole seconds for the native build.
#include <ctime>

#include "platform/clock.h"

namespace sealupdate {
namespace {

class MonotonicClock final : public Clock {
 public:
  std::int64_t NowSeconds() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec);
  }
  std::int64_t NowMilliseconds() override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
  }
};

}  // namespace

std::int64_t UtcSecondsNow() { return static_cast<std::int64_t>(std::time(nullptr)); }

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace sealupdate
