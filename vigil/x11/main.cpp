// vigil: reports the modifier keys going down and up, one JSON line each, on standard output.
#include <csignal>

#include "hotkey_monitor.h"
#include "quiet_stderr_glib.h"
#include "x11_monitor_platform.h"

int main(int argc, char** argv) {
  vigil::silenceStandardError();
  // A closed pipe is noticed as a failed write and ends the run quietly, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  vigil::X11MonitorPlatform platform;
  vigil::HotkeyMonitor monitor(platform, vigil::promptFlagGiven(argc, argv));
  monitor.start();
  return 0;
}
