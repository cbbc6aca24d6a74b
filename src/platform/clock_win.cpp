// A monotonic clock in whole seconds on Windows: no time-zone lookup, and a clock set back or a
// daylight-saving switch cannot disturb a transfer's rate.
#include "platform/clock.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

class TickClock final : public Clock {
 public:
  std::int64_t NowSeconds() override { return static_cast<std::int64_t>(GetTickCount64() / 1000); }
};

}  // namespace

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace sealupdate
