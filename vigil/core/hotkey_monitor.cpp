#include "hotkey_monitor.h"

namespace vigil {
namespace {

constexpr const char* kSourceFailed = "failed_to_create_event_tap";

constexpr std::string_view kKeyNames[kModifierKeyCount] = {
    "left_command", "right_command", "left_alt",    "right_alt",
    "left_control", "left_shift",    "right_shift", "fn",
};

std::size_t indexOf(ModifierKey key) { return static_cast<std::size_t>(key); }
std::uint32_t bit(std::size_t index) { return std::uint32_t{1} << index; }

}  // namespace

std::string_view modifierKeyName(ModifierKey key) { return kKeyNames[indexOf(key)]; }

bool promptFlagGiven(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--prompt-accessibility") return true;
  }
  return false;
}

HotkeyMonitor::HotkeyMonitor(MonitorPlatform& platform, bool shouldPromptForAccessibility)
    : platform_(platform), shouldPromptForAccessibility_(shouldPromptForAccessibility) {
  for (std::size_t k = 0; k < kModifierKeyCount; ++k) {
    const std::string name(kKeyNames[k]);
    keyLines_[k][0] = encodeEventLine(HotkeyEvent{name, HotkeyState::up}).value_or("");
    keyLines_[k][1] = encodeEventLine(HotkeyEvent{name, HotkeyState::down}).value_or("");
  }
}

void HotkeyMonitor::start() {
  const PlatformFacts& facts = platform_.facts();
  emit(StatusEvent{"starting", std::nullopt});
  emit(facts.capability);
  KeySourceOpening opening = platform_.openKeySource(*this, shouldPromptForAccessibility_);
  if (!opening.permitted) {
    emit(StatusEvent{"permission_required", facts.permissionRequiredMessage});
  }
  if (opening.failure) {
    emit(ErrorEvent{kSourceFailed, *opening.failure});
    emit(StatusEvent{"degraded", facts.sourceUnavailableMessage});
  } else {
    holdsKeySource_ = true;
    if (opening.delivering) emit(StatusEvent{"ready", std::nullopt});
  }
  platform_.run();
}

std::set<std::string> HotkeyMonitor::modifierKeysDown() const {
  std::set<std::string> names;
  for (std::size_t k = 0; k < kModifierKeyCount; ++k) {
    if ((modifierKeysDown_ & bit(k)) != 0) names.emplace(kKeyNames[k]);
  }
  return names;
}

void HotkeyMonitor::keyDown(ModifierKey key) {
  const std::size_t k = indexOf(key);
  if (!listening_ || (modifierKeysDown_ & bit(k)) != 0) return;
  modifierKeysDown_ |= bit(k);
  platform_.writeLine(keyLines_[k][1]);
}

void HotkeyMonitor::keyUp(ModifierKey key) {
  const std::size_t k = indexOf(key);
  if (!listening_ || (modifierKeysDown_ & bit(k)) == 0) return;
  modifierKeysDown_ &= ~bit(k);
  platform_.writeLine(keyLines_[k][0]);
}

void HotkeyMonitor::listeningInterrupted() {
  releaseTrackedModifiers();
  if (holdsKeySource_) {
    platform_.resumeKeySource();
    emit(StatusEvent{"ready", std::nullopt});
  } else {
    emit(StatusEvent{"degraded", platform_.facts().sourceNotRestoredMessage});
  }
}

void HotkeyMonitor::listeningLost(std::string_view message) {
  releaseTrackedModifiers();
  holdsKeySource_ = false;
  emit(StatusEvent{"degraded", std::string(message)});
}

void HotkeyMonitor::setListening(bool listening) {
  if (listening == listening_) return;
  listening_ = listening;
  if (!listening) releaseTrackedModifiers();
}

void HotkeyMonitor::releaseTrackedModifiers() {
  const std::set<std::string> held = modifierKeysDown();  // in the names' order
  modifierKeysDown_ = 0;
  for (const std::string& name : held) emit(HotkeyEvent{name, HotkeyState::up});
}

void HotkeyMonitor::emit(const MonitorEvent& event) {
  if (auto line = encodeEventLine(event)) platform_.writeLine(*line);
}

}  // namespace vigil
