#include "fake_monitor_platform.h"

namespace vigil {

FakeMonitorPlatform::FakeMonitorPlatform() {
  platformFacts.capability = CapabilityEvent{"macos", true, true, true};
  platformFacts.permissionRequiredMessage =
      "Accessibility permission is required for modifier monitoring.";
  platformFacts.tapUnavailableMessage = "CGEvent tap unavailable.";
  platformFacts.tapNotRestoredMessage = "CGEvent tap was disabled and could not be restored.";
}

bool FakeMonitorPlatform::isProcessTrusted(bool prompt) {
  calls.push_back(prompt ? "isProcessTrusted(prompt)" : "isProcessTrusted(no prompt)");
  return trusted;
}

TapCreation FakeMonitorPlatform::createEventTap(HotkeyMonitor& monitor) {
  calls.push_back("createEventTap");
  if (!tapCanBeCreated) return {nullptr, "Unable to create CGEvent tap."};
  tapMonitor = &monitor;
  return {std::make_shared<int>(1), {}};
}

PlatformRef FakeMonitorPlatform::createRunLoopSource(const PlatformRef&) {
  calls.push_back("createRunLoopSource");
  return sourceCanBeCreated ? std::make_shared<int>(2) : nullptr;
}

void FakeMonitorPlatform::addRunLoopSource(const PlatformRef&) {
  calls.push_back("addRunLoopSource");
}

void FakeMonitorPlatform::enableTap(const PlatformRef&, bool enable) {
  calls.push_back(enable ? "enableTap(true)" : "enableTap(false)");
}

void FakeMonitorPlatform::observeKeyboardDevices() { calls.push_back("observeKeyboardDevices"); }

void FakeMonitorPlatform::runLoop() { calls.push_back("runLoop"); }

void FakeMonitorPlatform::writeLine(std::string_view line) {
  calls.push_back("writeLine");
  lines.emplace_back(line);
}

std::vector<std::string> FakeMonitorPlatform::takeLines() {
  std::vector<std::string> taken;
  taken.swap(lines);
  return taken;
}

}  // namespace vigil
