// The client's one window on Win32: the controls, the notification icon and the message boxes
// the update flow talks to.
#pragma once

#include <memory>

#include "window/update_flow.h"

namespace sealupdate {

class MainWindow : public UpdateView {
 public:
  // Creates the window, hidden; nullptr when the system refuses. `mode` decides whether Run
  // shows it or leaves it loaded but hidden (the silent mode).
  static std::unique_ptr<MainWindow> Create(UpdateMode mode);

  // From now on the window's events go to `flow`, which must outlive the message loop.
  virtual void Attach(UpdateFlow& flow) = 0;
  // Starts the flow, shows the window by mode and runs the message loop until the window
  // closes; returns the exit code.
  virtual int Run() = 0;
};

}  // namespace sealupdate
