// An in-memory platform for the monitor: every call is recorded in order, every line kept, and
// each outcome (permission, key source) chosen by the test.
#pragma once

#include <string>
#include <vector>

#include "hotkey_monitor.h"
#include "monitor_platform.h"

namespace vigil {

using Lines = std::vector<std::string>;

// The lines the tests expect.
inline const std::string kReady = R"({"event":"status","state":"ready"})";
inline std::string down(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"down"})";
}
inline std::string up(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"up"})";
}

class FakeMonitorPlatform : public MonitorPlatform {
 public:
  FakeMonitorPlatform();

  // Chosen by the test before start().
  bool trusted = true;
  bool sourceCanBeOpened = true;
  bool sourceDelivers = true;

  // What happened.
  std::vector<std::string> calls;
  std::vector<std::string> lines;
  HotkeyMonitor* sourceMonitor = nullptr;
  PlatformFacts platformFacts;

  const PlatformFacts& facts() const override { return platformFacts; }
  KeySourceOpening openKeySource(HotkeyMonitor& monitor, bool prompt) override;
  void resumeKeySource() override;
  void run() override;
  void writeLine(std::string_view line) override;

  // The lines written since the last call.
  std::vector<std::string> takeLines();
};

}  // namespace vigil
