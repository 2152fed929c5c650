// The monitor's platform on macOS: an active Quartz event tap on the session, its Core Foundation
// run-loop source, the accessibility check it needs, and an IOKit HID manager for the keyboards.
// Everything runs on the thread that calls start(); the header names no Apple type so that any
// C++ file may include it.
#pragma once

#include <string_view>

#include "hotkey_monitor.h"
#include "macos_stdout_writer.h"
#include "monitor_platform.h"

namespace vigil {

class MacOSMonitorPlatform final : public MonitorPlatform {
 public:
  MacOSMonitorPlatform();
  MacOSMonitorPlatform(const MacOSMonitorPlatform&) = delete;
  MacOSMonitorPlatform& operator=(const MacOSMonitorPlatform&) = delete;

  const PlatformFacts& facts() const override { return facts_; }
  // The accessibility check, then the tap on the current run loop, enabled.
  KeySourceOpening openKeySource(HotkeyMonitor& monitor, bool prompt) override;
  void resumeKeySource() override;
  // Opens the keyboards for observation (no callback, no report), then runs the run loop.
  void run() override;
  void writeLine(std::string_view line) override;

 private:
  PlatformFacts facts_;
  MacOSStdoutWriter output_;
  CFObject tap_;            // the tap's CFMachPort
  CFObject runLoopSource_;  // made from it
};

}  // namespace vigil
