// The "process pending events" seam: lets queued window messages run from inside a loop, so
// handlers nest exactly as they do on the user-interface thread.
#pragma once

namespace sealupdate {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Dispatches every message already waiting for this thread, then returns.
  virtual void ProcessPendingEvents() = 0;
};

// The message queue of the calling thread on Windows; nothing to do natively.
EventPump& SystemEventPump();

}  // namespace sealupdate
