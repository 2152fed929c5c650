// vigil: reports the modifier keys going down and up, one JSON line each, on standard output.
// On Linux it reads X11's raw key events in an X session of its own and the kernel's keyboards
// everywhere else (Wayland, Xwayland, a text console); "--backend x11|evdev" overrides the guess.
#include <sys/prctl.h>

#include <csignal>

#include "backend_choice.h"
#include "evdev_monitor_platform.h"
#include "hotkey_monitor.h"
#include "quiet_stderr.h"
#include "x11_display_probe.h"
#include "x11_monitor_platform.h"

namespace {

template <typename Platform>
void runMonitor(bool prompt) {
  Platform platform;
  vigil::HotkeyMonitor monitor(platform, prompt);
  monitor.start();
}

}  // namespace

int main(int argc, char** argv) {
  quiet_stderr::silenceWithGLib();
  // Where the kernel gives huge pages to every large mapping, each thread's stack would hold 2 MB
  // of them for a few kilobytes of use: vigil keeps to small pages.
  prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
  // A closed pipe is noticed as a failed write and ends the run quietly, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const bool prompt = vigil::promptFlagGiven(argc, argv);
  switch (vigil::chooseLinuxBackend(argc, argv, vigil::sessionEnvironmentFromProcess(),
                                    vigil::displayIsXwayland)) {
    case vigil::LinuxBackend::x11:
      runMonitor<vigil::X11MonitorPlatform>(prompt);
      break;
    case vigil::LinuxBackend::evdev:
      runMonitor<vigil::EvdevMonitorPlatform>(prompt);
      break;
  }
  return 0;
}
