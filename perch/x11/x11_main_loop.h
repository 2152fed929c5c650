// The main loop: GLib's, with timers, and the end of the run when the host stops listening.
#pragma once

#include <glib.h>

#include <functional>
#include <memory>

#include "mascot_platform.h"
#include "x11_connection.h"

namespace perch {

class X11PanelPicture;

class X11MainLoop {
 public:
  X11MainLoop();
  ~X11MainLoop();
  X11MainLoop(const X11MainLoop&) = delete;
  X11MainLoop& operator=(const X11MainLoop&) = delete;

  // Runs until quit().
  void run();
  void quit();
  bool ended() const { return ended_; }
  static double now();
  static void runAfter(double delay, std::function<void()> work);

 private:
  GMainLoop* loop_;
  guint outputWatch_ = 0;
  bool ended_ = false;
};

// A repeating timer due on a fixed grid of microsecond ready times rather than in whole
// milliseconds from the last firing, so that 1/60 s stays 60 ticks a second. At animation rates
// it reads `connection` on its ticks; what a tick asks to redraw `picture` draws in the same
// dispatch.
std::unique_ptr<RepeatingTimer> startTicking(X11Connection& connection, X11PanelPicture& picture,
                                             double interval, std::function<void()> tick);

// A GLib timeout in whole milliseconds, never early.
unsigned timeoutMillis(double seconds);

}  // namespace perch
