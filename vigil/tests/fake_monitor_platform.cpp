#include "fake_monitor_platform.h"

namespace vigil {

FakeMonitorPlatform::FakeMonitorPlatform() {
  platformFacts.capability = CapabilityEvent{"macos", true, true, true};
  platformFacts.permissionRequiredMessage =
      "Accessibility permission is required for modifier monitoring.";
  platformFacts.sourceUnavailableMessage = "CGEvent tap unavailable.";
  platformFacts.sourceNotRestoredMessage = "CGEvent tap was disabled and could not be restored.";
}

KeySourceOpening FakeMonitorPlatform::openKeySource(HotkeyMonitor& monitor, bool prompt) {
  calls.push_back(prompt ? "openKeySource(prompt)" : "openKeySource(no prompt)");
  if (!sourceCanBeOpened) return {trusted, "Unable to create CGEvent tap."};
  sourceMonitor = &monitor;
  return {trusted, std::nullopt, sourceDelivers};
}

void FakeMonitorPlatform::resumeKeySource() { calls.push_back("resumeKeySource"); }

void FakeMonitorPlatform::run() { calls.push_back("run"); }

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
