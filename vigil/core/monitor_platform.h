// The seam between the portable monitor and the system it watches, in the monitor's own words. A
// backend implements MonitorPlatform; the monitor calls down through it, and the backend calls
// back up through HotkeyMonitor: keyDown(), keyUp(), listeningInterrupted(), listeningLost() and
// setListening(). Each backend turns its own key codes into ModifierKey with one table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hotkey_events.h"

namespace vigil {

class HotkeyMonitor;

// The keys vigil tracks. Right Control is not one of them.
enum class ModifierKey : std::uint8_t {
  leftCommand,
  rightCommand,
  leftAlt,
  rightAlt,
  leftControl,
  leftShift,
  rightShift,
  fn,
};
inline constexpr std::size_t kModifierKeyCount = 8;

// The key's name in "modifier" lines: "left_command", ..., "fn".
std::string_view modifierKeyName(ModifierKey key);

// How opening the key source went.
struct KeySourceOpening {
  bool permitted = true;               // false: "permission_required"; start-up goes on regardless
  std::optional<std::string> failure;  // no source: the "error" line's message
  bool delivering = true;              // opened and on the loop: "ready" is written
};

// The texts and facts that differ between platforms.
struct PlatformFacts {
  CapabilityEvent capability;
  std::string permissionRequiredMessage;
  std::string sourceUnavailableMessage;  // "degraded" after a failed opening
  std::string sourceNotRestoredMessage;  // "degraded" after an interruption with no source held
};

class MonitorPlatform {
 public:
  virtual ~MonitorPlatform() = default;

  virtual const PlatformFacts& facts() const = 0;
  // Checks the permission (`prompt` asks the system to show its prompt, where it has one) and
  // opens the source of key events, which reports to `monitor`; the monitor outlives it.
  virtual KeySourceOpening openKeySource(HotkeyMonitor& monitor, bool prompt) = 0;
  // The source was interrupted (listeningInterrupted()): listen again.
  virtual void resumeKeySource() = 0;
  // Runs the current thread's loop until it has nothing left to watch or is told to stop.
  virtual void run() = 0;
  // Writes one event line (the line feed is added here) and flushes it.
  virtual void writeLine(std::string_view line) = 0;
};

}  // namespace vigil
