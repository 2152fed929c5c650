// An X connection as a source on GLib's default main context.
#pragma once

#include <glib.h>

#include <functional>

typedef struct _XDisplay Display;

namespace x11_support {

class ConnectionSource {
 public:
  // `readEvents` runs when Xlib holds queued events or the connection has something to read; it
  // takes what it wants from the connection. What is buffered is flushed before the loop waits.
  ConnectionSource(Display* display, std::function<void()> readEvents);
  ~ConnectionSource();
  ConnectionSource(const ConnectionSource&) = delete;
  ConnectionSource& operator=(const ConnectionSource&) = delete;

  // Whether the connection's descriptor wakes the loop (on at first): off while something else
  // reads the connection often enough. Events already queued in Xlib dispatch either way.
  void setPolled(bool polled);

 private:
  struct Source;
  static gboolean prepare(GSource* source, gint* timeout);
  static gboolean check(GSource* source);
  static gboolean dispatch(GSource* source, GSourceFunc, gpointer);

  Display* display_;
  std::function<void()> readEvents_;
  GSource* source_;
  gpointer fdTag_;
};

}  // namespace x11_support
