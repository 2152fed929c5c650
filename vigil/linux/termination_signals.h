// The polite signals (SIGTERM, SIGINT, SIGHUP) as sources on GLib's default main context: each
// calls `onSignal`, which ends the backend's run. Both Linux backends hold one for their lifetime.
#pragma once

#include <glib.h>

#include <array>
#include <functional>

namespace vigil {

class TerminationSignals {
 public:
  explicit TerminationSignals(std::function<void()> onSignal);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  std::function<void()> onSignal_;
  std::array<guint, 3> watches_{};
};

}  // namespace vigil
