// The connection: the display, its root window, the extensions' first event numbers, and its
// source on GLib's main loop, which hands every event to one handler.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <memory>

#include "connection.h"
#include "mascot_platform.h"

namespace perch {

class X11Connection {
 public:
  // Takes `display` over; `handleEvent` gets each event the loop reads.
  X11Connection(Display* display, std::function<void(XEvent&)> handleEvent);
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  Display* display() const { return display_; }
  Window root() const { return root_; }
  // The first event of RandR and of XFixes (version 2 or later), or -1 without them.
  int randrEvent() const { return randrEvent_; }
  int fixesEvent() const { return fixesEvent_; }
  bool xwayland() const { return xwayland_; }

  void read();
  // Sends what is buffered, then handles the events Xlib has read, without reading more.
  void handleQueuedEvents();
  // While a timer ticks at animation rates the connection is read on each tick rather than
  // polled: what the server sends about each frame (its exposures, its completed upload) then
  // waits for the next tick instead of waking the loop once or twice between ticks. Counted, so
  // that timers may overlap.
  void tickingStarted();
  void tickingEnded();
  // A repeating timer due on a fixed grid of microsecond ready times rather than in whole
  // milliseconds from the last firing, so that 1/60 s stays 60 ticks a second. At animation rates
  // it reads this connection on its ticks; `drawNow` draws what a tick (or what was read) asked
  // for, in the same dispatch.
  std::unique_ptr<RepeatingTimer> startTicking(double interval, std::function<void()> tick,
                                               std::function<void()> drawNow);

 private:
  static void onConnectionLost(Display* display, void* self);

  Display* display_;
  Window root_;
  int randrEvent_ = -1;
  int fixesEvent_ = -1;
  bool xwayland_ = false;
  std::function<void(XEvent&)> handleEvent_;
  std::unique_ptr<x11_support::ConnectionSource> source_;
  int ticking_ = 0;  // timers that read the connection on their ticks
};

}  // namespace perch
