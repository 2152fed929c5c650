#include "quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>

#ifndef __APPLE__
#include <glib.h>
#endif
#ifdef QUIET_STDERR_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace quiet_stderr {

void silence() {
#ifdef QUIET_STDERR_SANITIZED
  const int original = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (original >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(std::intptr_t{original}));
#endif
  // Not close-on-exec: it is closed below unless it became a standard descriptor.
  const int null = open("/dev/null", O_WRONLY);
  if (null < 0) return;
  dup2(null, STDERR_FILENO);  // nothing when standard error was closed and `null` took its place
  // A closed standard input or output was the lowest free descriptor: it stays on /dev/null.
  if (null > STDERR_FILENO) close(null);
}

#ifndef __APPLE__
void silenceWithGLib() {
  silence();
  g_log_set_writer_func(
      [](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
      nullptr, nullptr);
  g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  g_set_printerr_handler([](const gchar*) {});
}
#endif

}  // namespace quiet_stderr
