// vigil's event lines on a Linux backend: queued in a bounded outbox and written to a
// non-blocking standard output whenever GLib's main loop finds the host's pipe writable, so the
// key path never waits on the host. Any Linux backend running GLib's default main context uses
// it from its writeLine().
#pragma once

#include <glib.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "line_outbox.h"
#include "nonblocking_stdout.h"

namespace vigil {

class GlibStdoutWriter {
 public:
  // `onClosed` runs once, when the host has closed its end: the backend then ends its run.
  explicit GlibStdoutWriter(std::function<void()> onClosed);
  // Writes what is left, waiting for the host for a second at most.
  ~GlibStdoutWriter();
  GlibStdoutWriter(const GlibStdoutWriter&) = delete;
  GlibStdoutWriter& operator=(const GlibStdoutWriter&) = delete;

  // Queues one event line (the line feed is added) and writes as much as the pipe takes now.
  void writeLine(std::string_view line);
  // Writes what is left, waiting for the host for a second at most: before the process ends
  // without returning from its loop.
  void finish();

 private:
  static gboolean onWritable(gint fd, GIOCondition condition, gpointer self);
  static gboolean onHangUp(gint fd, GIOCondition condition, gpointer self);
  void flush();
  void hostGone();

  static constexpr std::chrono::milliseconds finishTimeout{1000};

  NonBlockingStdout stdout_;
  LineOutbox outbox_;
  std::function<void()> onClosed_;
  std::string direct_;  // a line on its way straight to the pipe, its line feed included
  guint writableWatch_ = 0;
  guint hangUpWatch_ = 0;
  bool closed_ = false;
};

}  // namespace vigil
