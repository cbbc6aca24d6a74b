// The native build has no event queue: pumping does nothing.
#include "platform/event_pump.h"

namespace sealupdate {
namespace {

class NoEvents final : public EventPump {
 public:
  void ProcessPendingEvents() override {}  // the native build has no message queue
};

}  // namespace

EventPump& SystemEventPump() {
  static NoEvents pump;
  return pump;
}

}  // namespace sealupdate
