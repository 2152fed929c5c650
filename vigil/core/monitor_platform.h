// The seam between the portable monitor and the system it watches. A backend implements
// MonitorPlatform; the monitor calls down through it and the backend calls back up through
// HotkeyMonitor::handleEvent() and HotkeyMonitor::handleTapLost().
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "hotkey_events.h"

namespace vigil {

class HotkeyMonitor;

// Event types as the tap delivers them (Quartz's numbering; other backends translate to it).
namespace EventType {
inline constexpr std::uint32_t keyDown = 10;
inline constexpr std::uint32_t keyUp = 11;
inline constexpr std::uint32_t flagsChanged = 12;
inline constexpr std::uint32_t tapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t tapDisabledByUserInput = 0xFFFFFFFF;
}  // namespace EventType

// Modifier flag bits as the tap delivers them. The shared bits say "a key of this kind is down";
// the side bits (device-dependent) say which one.
namespace ModifierFlag {
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t alternate = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t secondaryFn = 0x800000;

inline constexpr std::uint64_t leftControl = 0x1;
inline constexpr std::uint64_t leftShift = 0x2;
inline constexpr std::uint64_t rightShift = 0x4;
inline constexpr std::uint64_t leftCommand = 0x8;
inline constexpr std::uint64_t rightCommand = 0x10;
inline constexpr std::uint64_t leftAlternate = 0x20;
inline constexpr std::uint64_t rightAlternate = 0x40;
inline constexpr std::uint64_t rightControl = 0x2000;
}  // namespace ModifierFlag

// The part of a tap event the monitor reads: its key code and its flags.
struct KeyEvent {
  std::int64_t keyCode = -1;
  std::uint64_t flags = 0;
};

// An owned reference to a platform object (a tap, a run-loop source); empty means none.
using PlatformRef = std::shared_ptr<void>;

struct TapCreation {
  PlatformRef tap;      // empty when the tap could not be made
  std::string failure;  // why not, for the host: the "error" line's message
};

// The texts and facts that differ between platforms.
struct PlatformFacts {
  CapabilityEvent capability;
  std::string permissionRequiredMessage;
  std::string tapUnavailableMessage;  // "degraded" after a failed tap creation
  std::string tapNotRestoredMessage;  // "degraded" after a tap-disabled notice with no tap held
};

class MonitorPlatform {
 public:
  virtual ~MonitorPlatform() = default;

  virtual const PlatformFacts& facts() const = 0;
  // The accessibility check; `prompt` asks the system to show its permission prompt.
  virtual bool isProcessTrusted(bool prompt) = 0;
  // Makes the tap that will deliver events to `monitor`, which outlives it.
  virtual TapCreation createEventTap(HotkeyMonitor& monitor) = 0;
  virtual PlatformRef createRunLoopSource(const PlatformRef& tap) = 0;
  virtual void addRunLoopSource(const PlatformRef& source) = 0;
  virtual void enableTap(const PlatformRef& tap, bool enable) = 0;
  // Opens the keyboard devices for observation; no callback, no report.
  virtual void observeKeyboardDevices() = 0;
  // Runs the current thread's loop until it has nothing left to watch or is told to stop.
  virtual void runLoop() = 0;
  // Writes one event line (the line feed is added here) and flushes it.
  virtual void writeLine(std::string_view line) = 0;
};

}  // namespace vigil
