#include "quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

namespace vigil {

void sendStandardErrorToNull() {
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0 || null == STDERR_FILENO) return;
  dup2(null, STDERR_FILENO);  // dup2 leaves close-on-exec off the copy, as standard error is
  // A closed standard input or output was the lowest free descriptor: it stays on /dev/null.
  if (null > STDERR_FILENO) close(null);
}

}  // namespace vigil
