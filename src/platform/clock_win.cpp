#include "platform/clock.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

class LocalClock final : public Clock {
 public:
  std::int64_t NowSeconds() override {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    FILETIME asFile{};
    if (!SystemTimeToFileTime(&local, &asFile)) return 0;
    ULARGE_INTEGER ticks{};
    ticks.LowPart = asFile.dwLowDateTime;
    ticks.HighPart = asFile.dwHighDateTime;
    return static_cast<std::int64_t>(ticks.QuadPart / 10000000u);  // 100 ns units
  }
};

}  // namespace

Clock& SystemClock() {
  static LocalClock clock;
  return clock;
}

}  // namespace sealupdate
