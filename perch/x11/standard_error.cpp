#include "standard_error.h"

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define PERCH_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PERCH_SANITIZED 1
#endif
#endif
#ifdef PERCH_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace perch {
namespace {

GLogWriterOutput dropMessage(GLogLevelFlags, const GLogField*, gsize, gpointer) {
  return G_LOG_WRITER_HANDLED;
}

}  // namespace

void silenceStandardError() {
#ifdef PERCH_SANITIZED
  // A fault found under the sanitizers must still be seen by whoever runs the tests.
  const int original = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (original >= 0) __sanitizer_set_report_fd(reinterpret_cast<void*>(std::intptr_t{original}));
#endif
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDERR_FILENO);  // dup2 clears close-on-exec on the copy
    if (null != STDERR_FILENO) close(null);
  }
  g_log_set_writer_func(dropMessage, nullptr, nullptr);
}

}  // namespace perch
