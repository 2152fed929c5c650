#include "nonblocking_stdout.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vigil {

NonBlockingStdout::NonBlockingStdout() {
  struct stat info;
  if (fstat(STDOUT_FILENO, &info) != 0) return;
  if (!S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode)) return;
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  if (flags < 0 || (flags & O_NONBLOCK) != 0) return;
  if (fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) == 0) savedFlags_ = flags;
}

NonBlockingStdout::~NonBlockingStdout() {
  if (savedFlags_ >= 0) fcntl(STDOUT_FILENO, F_SETFL, savedFlags_);
}

SinkWrite NonBlockingStdout::write(std::string_view bytes) {
  for (;;) {
    const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (n >= 0) return {static_cast<std::size_t>(n), false};
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {0, false};
    return {0, true};  // EPIPE above all: the host closed its end
  }
}

void NonBlockingStdout::drain(LineOutbox& outbox, std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  const OutputSink sink = [this](std::string_view bytes) { return write(bytes); };
  while (flushOutbox(outbox, sink) == FlushOutcome::blocked) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return;
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    const int ready = poll(&out, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (out.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return;
  }
}

}  // namespace vigil
