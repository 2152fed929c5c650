#include "hotkey_monitor.h"

#include <string_view>
#include <vector>

namespace vigil {
namespace {

constexpr const char* kTapCreationFailed = "failed_to_create_event_tap";

std::unordered_map<std::int64_t, ModifierKey> makeKeyCodeMap() {
  using namespace ModifierFlag;
  const std::uint64_t commandSides = leftCommand | rightCommand;
  const std::uint64_t alternateSides = leftAlternate | rightAlternate;
  const std::uint64_t controlSides = leftControl | rightControl;
  const std::uint64_t shiftSides = leftShift | rightShift;
  return {
      {55, {"left_command", command, leftCommand, commandSides}},
      {54, {"right_command", command, rightCommand, commandSides}},
      {58, {"left_alt", alternate, leftAlternate, alternateSides}},
      {61, {"right_alt", alternate, rightAlternate, alternateSides}},
      {59, {"left_control", control, leftControl, controlSides}},
      {56, {"left_shift", shift, leftShift, shiftSides}},
      {60, {"right_shift", shift, rightShift, shiftSides}},
      {63, {"fn", secondaryFn, 0, 0}},
  };
}

}  // namespace

bool promptFlagGiven(int argc, const char* const* argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--prompt-accessibility") return true;
  }
  return false;
}

bool isKeyDown(const ModifierKey& key, std::uint64_t flags) {
  if (key.sideFlag != 0 && (flags & key.kindSides) != 0) return (flags & key.sideFlag) != 0;
  return (flags & key.flag) == key.flag;
}

HotkeyMonitor::HotkeyMonitor(MonitorPlatform& platform, bool shouldPromptForAccessibility)
    : keyCodeMap(makeKeyCodeMap()),
      platform_(platform),
      shouldPromptForAccessibility_(shouldPromptForAccessibility) {}

void HotkeyMonitor::start() {
  const PlatformFacts& facts = platform_.facts();
  emit(StatusEvent{"starting", std::nullopt});
  emit(facts.capability);
  if (!platform_.isProcessTrusted(shouldPromptForAccessibility_)) {
    emit(StatusEvent{"permission_required", facts.permissionRequiredMessage});
  }
  setupEventTap();
  setupHIDObservation();
  platform_.runLoop();
}

void HotkeyMonitor::setupEventTap() {
  TapCreation created = platform_.createEventTap(*this);
  if (!created.tap) {
    emit(ErrorEvent{kTapCreationFailed, created.failure});
    emit(StatusEvent{"degraded", platform_.facts().tapUnavailableMessage});
    return;
  }
  eventTap_ = std::move(created.tap);
  runLoopSource_ = platform_.createRunLoopSource(eventTap_);
  if (!runLoopSource_) return;
  platform_.addRunLoopSource(runLoopSource_);
  platform_.enableTap(eventTap_, true);
  emit(StatusEvent{"ready", std::nullopt});
}

void HotkeyMonitor::setupHIDObservation() { platform_.observeKeyboardDevices(); }

void HotkeyMonitor::handleEvent(std::uint32_t type, const KeyEvent& event) {
  if (type == EventType::tapDisabledByTimeout || type == EventType::tapDisabledByUserInput) {
    releaseTrackedModifiers();
    if (eventTap_) {
      platform_.enableTap(eventTap_, true);
      emit(StatusEvent{"ready", std::nullopt});
    } else {
      emit(StatusEvent{"degraded", platform_.facts().tapNotRestoredMessage});
    }
    return;
  }
  if (type != EventType::flagsChanged || !listening_) return;

  auto row = keyCodeMap.find(event.keyCode);
  if (row == keyCodeMap.end()) return;
  const ModifierKey& key = row->second;
  if (isKeyDown(key, event.flags)) {
    if (modifierKeysDown_.insert(key.name).second) emit(HotkeyEvent{key.name, HotkeyState::down});
  } else {
    if (modifierKeysDown_.erase(key.name) > 0) emit(HotkeyEvent{key.name, HotkeyState::up});
  }
}

void HotkeyMonitor::setListening(bool listening) {
  if (listening == listening_) return;
  listening_ = listening;
  if (!listening) releaseTrackedModifiers();
}

void HotkeyMonitor::handleTapLost(std::string_view message) {
  releaseTrackedModifiers();
  runLoopSource_.reset();
  eventTap_.reset();
  emit(StatusEvent{"degraded", std::string(message)});
}

void HotkeyMonitor::releaseTrackedModifiers() {
  std::vector<std::string> held(modifierKeysDown_.begin(), modifierKeysDown_.end());
  modifierKeysDown_.clear();
  for (const std::string& name : held) emit(HotkeyEvent{name, HotkeyState::up});
}

void HotkeyMonitor::emit(const MonitorEvent& event) {
  if (auto line = encodeEventLine(event)) platform_.writeLine(*line);
}

void deliverTapEvent(void* userInfo, std::uint32_t type, const KeyEvent& event) {
  if (userInfo == nullptr) return;
  static_cast<HotkeyMonitor*>(userInfo)->handleEvent(type, event);
}

}  // namespace vigil
