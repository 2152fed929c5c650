// An in-memory platform for the monitor: every call is recorded in order, every line kept, and
// each outcome (trust, tap, run-loop source) chosen by the test.
#pragma once

#include <string>
#include <vector>

#include "hotkey_monitor.h"
#include "monitor_platform.h"

namespace vigil {

class FakeMonitorPlatform : public MonitorPlatform {
 public:
  FakeMonitorPlatform();

  // Chosen by the test before start().
  bool trusted = true;
  bool tapCanBeCreated = true;
  bool sourceCanBeCreated = true;

  // What happened.
  std::vector<std::string> calls;
  std::vector<std::string> lines;
  HotkeyMonitor* tapMonitor = nullptr;
  PlatformFacts platformFacts;

  const PlatformFacts& facts() const override { return platformFacts; }
  bool isProcessTrusted(bool prompt) override;
  TapCreation createEventTap(HotkeyMonitor& monitor) override;
  PlatformRef createRunLoopSource(const PlatformRef& tap) override;
  void addRunLoopSource(const PlatformRef& source) override;
  void enableTap(const PlatformRef& tap, bool enable) override;
  void observeKeyboardDevices() override;
  void runLoop() override;
  void writeLine(std::string_view line) override;

  // The lines written since the last call.
  std::vector<std::string> takeLines();
};

}  // namespace vigil
