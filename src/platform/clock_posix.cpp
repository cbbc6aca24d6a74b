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
};

}  // namespace

Clock& SystemClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace sealupdate
