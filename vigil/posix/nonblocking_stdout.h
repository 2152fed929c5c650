// Standard output for a host that may stop reading. A pipe or a socket is made non-blocking for
// the run and given back as it was at the end; a terminal or a file is left blocking, since its
// open description may be shared with the shell that started vigil.
#pragma once

#include <chrono>
#include <string_view>

#include "line_outbox.h"

namespace vigil {

class NonBlockingStdout {
 public:
  NonBlockingStdout();
  ~NonBlockingStdout();
  NonBlockingStdout(const NonBlockingStdout&) = delete;
  NonBlockingStdout& operator=(const NonBlockingStdout&) = delete;

  // One write(2): bytes taken, none while the pipe is full, or closed on any other failure.
  SinkWrite write(std::string_view bytes);
  // Writes what `outbox` holds, waiting for the pipe for at most `timeout` in all: before the run
  // ends, so that its last lines still reach a host that reads, and a host that does not can
  // never keep vigil alive.
  void drain(LineOutbox& outbox, std::chrono::milliseconds timeout);

 private:
  int savedFlags_ = -1;  // the descriptor's flags before, when they were changed
};

}  // namespace vigil
