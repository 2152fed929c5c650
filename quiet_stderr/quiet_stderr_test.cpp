#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "quiet_stderr.h"
#ifdef QUIET_STDERR_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

// A child with a pipe for standard error silences it, prints there every way its libraries do,
// and reports as a sanitizer does: only the report gets through.
TEST(QuietStderr, OnlySanitizerReportsGetThrough) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], STDERR_FILENO);
    quiet_stderr::silenceWithGLib();
    std::fputs("stdio\n", stderr);  // unbuffered
    g_printerr("printerr\n");
    g_warning("warning");
#ifdef QUIET_STDERR_SANITIZED
    __sanitizer_report_error_summary("sanitizer report");
#endif
    _exit(0);
  }
  close(fds[1]);
  std::string output;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  int status = 1;
  waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
#ifdef QUIET_STDERR_SANITIZED
  EXPECT_EQ(output, "sanitizer report\n");
#else
  EXPECT_EQ(output, "");
#endif
}
