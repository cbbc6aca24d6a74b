// Runs the messages queued for this thread, as the downloader needs while it probes names.
#include "platform/event_pump.h"
#include "platform/win32.h"

namespace sealupdate {
namespace {

class MessagePump final : public EventPump {
 public:
  void ProcessPendingEvents() override {
    MSG msg{};
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // The outer message loop must still see the quit request.
        PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
};

}  // namespace

EventPump& SystemEventPump() {
  static MessagePump pump;
  return pump;
}

}  // namespace sealupdate
