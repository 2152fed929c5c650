// Tracks the modifier keys the platform's key source reports and tells the host of each one going
// down or up as an event line.
#pragma once

#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "hotkey_events.h"
#include "monitor_platform.h"

namespace vigil {

class HotkeyMonitor {
 public:
  HotkeyMonitor(MonitorPlatform& platform, bool shouldPromptForAccessibility);
  HotkeyMonitor(const HotkeyMonitor&) = delete;
  HotkeyMonitor& operator=(const HotkeyMonitor&) = delete;

  // Writes the start-up lines, opens the key source, then runs the loop. Returns when it does.
  void start();

  // A key went down or up. Repeats, and releases of keys not reported down, write nothing.
  void keyDown(ModifierKey key);
  void keyUp(ModifierKey key);

  // The source stopped delivering for a while (the system switched it off): every held key is
  // reported up, then the source is resumed and "ready" written; with no source, "degraded".
  void listeningInterrupted();

  // The source is gone for good (its connection broke): every held key is reported up first.
  void listeningLost(std::string_view message);

  // Whether the keys the backend delivers are the user's to hear: false while the user's session
  // is locked or not in front. Going deaf reports every held key up once and then nothing of the
  // keys; coming back, keys held across the change count as held at start (never reported down).
  void setListening(bool listening);
  bool listening() const { return listening_; }

  // The names of the keys reported down.
  std::set<std::string> modifierKeysDown() const;
  bool holdsKeySource() const { return holdsKeySource_; }

 private:
  void releaseTrackedModifiers();
  void emit(const MonitorEvent& event);

  MonitorPlatform& platform_;
  const bool shouldPromptForAccessibility_;
  bool holdsKeySource_ = false;
  std::uint32_t modifierKeysDown_ = 0;  // a bit per ModifierKey reported down
  bool listening_ = true;
  // Each key's "down" and "up" lines, encoded once: the key path writes them as they are.
  std::array<std::array<std::string, 2>, kModifierKeyCount> keyLines_;
};

// Whether the command line asks for the system's accessibility prompt: any argument, the program
// path included, exactly "--prompt-accessibility".
bool promptFlagGiven(int argc, const char* const* argv);

}  // namespace vigil
