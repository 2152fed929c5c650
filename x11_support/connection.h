// The X connection as both programs hold it: its errors kept quiet, and its source on GLib's loop.
#pragma once

#include <glib.h>

#include <functional>

typedef struct _XDisplay Display;

namespace x11_support {

// Instead of Xlib's default handlers, which print and exit with status 1, for the whole process:
// a failed request is ignored, a lost connection goes to the display's XSetIOErrorExitHandler.
void quietXErrors();

// On GLib's default main context: flushes before the loop waits; `readEvents` runs when Xlib
// holds queued events or the connection is readable, and takes what it wants.
class ConnectionSource {
 public:
  ConnectionSource(Display* display, std::function<void()> readEvents);
  ~ConnectionSource();
  ConnectionSource(const ConnectionSource&) = delete;
  ConnectionSource& operator=(const ConnectionSource&) = delete;

  // Whether the descriptor wakes the loop (on at first): off while something else reads the
  // connection often enough. Events already queued in Xlib dispatch either way.
  void setPolled(bool polled);

 private:
  Display* display_;
  std::function<void()> readEvents_;
  GSource* source_;
  gpointer fdTag_;
};

}  // namespace x11_support
