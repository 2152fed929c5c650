#include "quiet_stderr_glib.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#ifdef QUIET_STDERR_SANITIZED
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// What a child whose standard error is a pipe leaves there after silencing it and printing to it
// every way the programs' libraries do, then reporting as a sanitizer does.
std::string standardErrorOfSilencedChild() {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  const pid_t child = fork();
  if (child == 0) {
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    quiet_stderr::silenceWithGLib();
    std::fputs("stdio\n", stderr);
    std::fflush(stderr);
    if (write(STDERR_FILENO, "write\n", 6) < 0) _exit(2);
    g_printerr("printerr\n");
    g_warning("warning");
    g_message("message");
    g_log_structured(G_LOG_DOMAIN, G_LOG_LEVEL_CRITICAL, "MESSAGE", "structured");
#ifdef QUIET_STDERR_SANITIZED
    __sanitizer_report_error_summary("sanitizer report");
#endif
    _exit(0);
  }
  close(fds[1]);
  std::string output;
  char buffer[256];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) output += "[child failed]";
  return output;
}

TEST(QuietStderr, OnlySanitizerReportsGetThrough) {
#ifdef QUIET_STDERR_SANITIZED
  EXPECT_EQ(standardErrorOfSilencedChild(), "sanitizer report\n");
#else
  EXPECT_EQ(standardErrorOfSilencedChild(), "");
#endif
}

}  // namespace
