#include <ctime>

#include "platform/clock.h"

namespace sealupdate {
namespace {

class LocalClock final : public Clock {
 public:
  std::int64_t NowSeconds() override {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return static_cast<std::int64_t>(now);
    return static_cast<std::int64_t>(now) + local.tm_gmtoff;  // seconds of local time
  }
};

}  // namespace

Clock& SystemClock() {
  static LocalClock clock;
  return clock;
}

}  // namespace sealupdate
