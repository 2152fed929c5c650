// vigil: reports the modifier keys going down and up, one JSON line each, on standard output.
#import <Foundation/Foundation.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "hotkey_monitor.h"
#include "macos_monitor_platform.h"
#include "quiet_stderr.h"

namespace {

// Ends the run, with status 0, when the host that started vigil exits, even while no key moves and
// no line is written (a closed pipe alone is noticed only at the next write). The watch is served
// by the main run loop, which the monitor runs, and kept for the whole process; none is made for a
// process that launchd started itself.
void endWithHost() {
  const pid_t host = getppid();
  if (host <= 1) return;
  static dispatch_source_t watch = dispatch_source_create(
      DISPATCH_SOURCE_TYPE_PROC, host, DISPATCH_PROC_EXIT, dispatch_get_main_queue());
  if (watch != nil) {
    dispatch_source_set_event_handler(watch, ^{
      std::exit(0);
    });
    dispatch_resume(watch);
  }
  // Gone before the watch began: vigil has been handed to launchd.
  if (getppid() != host) std::exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  quiet_stderr::silence();
  // A closed pipe is noticed as a failed write and ends the run quietly, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  @autoreleasepool {
    endWithHost();
    vigil::MacOSMonitorPlatform platform;
    vigil::HotkeyMonitor monitor(platform, vigil::promptFlagGiven(argc, argv));
    monitor.start();
  }
  return 0;
}
