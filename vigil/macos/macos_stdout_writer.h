// vigil's event lines on macOS: queued in a bounded outbox and written to a non-blocking standard
// output whenever the run loop that holds the tap finds the host's pipe writable, so the tap's
// callback, which sits in the system's input path, never waits on the host. Same thread as the
// tap; the header names no Apple type.
#pragma once

#include <memory>
#include <string_view>

#include "line_outbox.h"
#include "monitor_platform.h"
#include "nonblocking_stdout.h"

namespace vigil {

// An owned Core Foundation object, released when the last holder drops it; empty means none.
using CFObject = std::shared_ptr<void>;
CFObject adoptCFObject(const void* object);

class MacOSStdoutWriter {
 public:
  // Watches standard output from the current thread's run loop.
  MacOSStdoutWriter();
  MacOSStdoutWriter(const MacOSStdoutWriter&) = delete;
  MacOSStdoutWriter& operator=(const MacOSStdoutWriter&) = delete;

  // Queues one event line (the line feed is added) and writes as much as the pipe takes now.
  // When the host has closed its end the run ends, with status 0.
  void writeLine(std::string_view line);
  // Called by the run loop when the pipe has room again.
  void writable();

 private:
  void flush();

  NonBlockingStdout stdout_;
  LineOutbox outbox_;
  CFObject descriptor_;   // the CFFileDescriptor on standard output
  CFObject source_;       // its run-loop source
  bool waiting_ = false;  // for the pipe to have room
};

}  // namespace vigil
