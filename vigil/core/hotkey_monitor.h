// Tracks the modifier keys through the platform's event tap and reports each one going down or
// up as an event line.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "hotkey_events.h"
#include "monitor_platform.h"

namespace vigil {

struct ModifierKey {
  std::string name;
  std::uint64_t flag = 0;       // the bit shared by the left and right keys of this kind
  std::uint64_t sideFlag = 0;   // this key's own device-dependent bit; 0 where there is none
  std::uint64_t kindSides = 0;  // every device-dependent bit of this kind
};

class HotkeyMonitor {
 public:
  HotkeyMonitor(MonitorPlatform& platform, bool shouldPromptForAccessibility);
  HotkeyMonitor(const HotkeyMonitor&) = delete;
  HotkeyMonitor& operator=(const HotkeyMonitor&) = delete;

  // Writes the start-up lines, installs the tap, opens the keyboards, then runs the loop.
  // Returns when the loop does.
  void start();

  // A notification from the tap. Only flags changes and tap-disabled notices matter.
  void handleEvent(std::uint32_t type, const KeyEvent& event);

  // The tap is gone for good (its connection broke): every held key is reported up first.
  void handleTapLost(std::string_view message);

  // Whether the keys the backend delivers are the user's to hear: false while the user's session
  // is locked or not in front. Going deaf reports every held key up once and then nothing of the
  // keys; coming back, keys held across the change count as held at start (never reported down).
  void setListening(bool listening);
  bool listening() const { return listening_; }

  const std::unordered_map<std::int64_t, ModifierKey> keyCodeMap;
  const std::set<std::string>& modifierKeysDown() const { return modifierKeysDown_; }
  bool holdsEventTap() const { return eventTap_ != nullptr; }

 private:
  void setupEventTap();
  void setupHIDObservation();
  void releaseTrackedModifiers();
  void emit(const MonitorEvent& event);

  MonitorPlatform& platform_;
  const bool shouldPromptForAccessibility_;
  PlatformRef eventTap_;
  PlatformRef runLoopSource_;
  std::set<std::string> modifierKeysDown_;
  bool listening_ = true;
};

// The tap callback's body: `userInfo` is the monitor, not owned; a null one does nothing.
void deliverTapEvent(void* userInfo, std::uint32_t type, const KeyEvent& event);

// Whether the command line asks for the system's accessibility prompt: any argument, the program
// path included, exactly "--prompt-accessibility".
bool promptFlagGiven(int argc, const char* const* argv);

// Whether `flags` hold `key` down: by its own side bit when the flags carry any side bit of its
// kind, else by the shared bit.
bool isKeyDown(const ModifierKey& key, std::uint64_t flags);

}  // namespace vigil
