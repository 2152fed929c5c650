// vigil: reports the modifier keys going down and up, one JSON line each, on standard output.
#import <Foundation/Foundation.h>

#include <csignal>

#include "hotkey_monitor.h"
#include "macos_monitor_platform.h"
#include "quiet_stderr.h"

int main(int argc, char** argv) {
  vigil::sendStandardErrorToNull();
  // A closed pipe is noticed as a failed write and ends the run quietly, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  @autoreleasepool {
    vigil::MacOSMonitorPlatform platform;
    vigil::HotkeyMonitor monitor(platform, vigil::promptFlagGiven(argc, argv));
    monitor.start();
  }
  return 0;
}
