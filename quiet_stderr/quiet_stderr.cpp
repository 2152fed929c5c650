#include "quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#ifdef QUIET_STDERR_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace quiet_stderr {

void silence() {
#ifdef QUIET_STDERR_SANITIZED
  const int original = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (original >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(std::intptr_t{original}));
#endif
  // Not close-on-exec: the descriptor is closed below unless it became a standard one, which
  // children inherit as usual.
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0) return;
  dup2(null, STDERR_FILENO);  // nothing when standard error was closed and `null` took its place
  // A closed standard input or output was the lowest free descriptor: it stays on /dev/null.
  if (null > STDERR_FILENO) close(null);
}

}  // namespace quiet_stderr
