// A monotonic clock in whole seconds on Windows: no time-zone lookup, and a clock set back or a
// daylight-saving switch cannot disturb a transfer's rate.
#include "platform/clock.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

class TickClock final : public Clock {
 public:
  std::int64_t NowSeconds() override { return NowMilliseconds() / 1000; }
  std::int64_t NowMilliseconds() override { return static_cast<std::int64_t>(GetTickCount64()); }
};

}  // namespace

std::int64_t UtcSecondsNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                              now.dwLowDateTime;  // 100 ns since 1601-01-01
  return static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
}

Clock& SystemClock() {
  static TickClock clock;
  return clock;
}

}  // namespace sealupdate
