#include "termination_signals.h"

#include <glib-unix.h>

#include <csignal>
#include <utility>

namespace vigil {

TerminationSignals::TerminationSignals(std::function<void()> onSignal)
    : onSignal_(std::move(onSignal)) {
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  for (size_t i = 0; i < watches_.size(); ++i) {
    watches_[i] = g_unix_signal_add(
        signals[i],
        [](gpointer self) -> gboolean {
          static_cast<TerminationSignals*>(self)->onSignal_();
          return G_SOURCE_CONTINUE;
        },
        this);
  }
}

TerminationSignals::~TerminationSignals() {
  for (guint watch : watches_) g_source_remove(watch);
}

}  // namespace vigil
