// What a Quartz event tap delivers, turned into the monitor's calls: the event types, the flag
// words with their shared and device-dependent side bits, and the virtual key codes of the tracked
// keys. No Apple header, so that the tests build it anywhere; macos_monitor_platform.mm checks
// every number here against the SDK's.
#pragma once

#include <cstdint>

#include "hotkey_monitor.h"

namespace vigil {

namespace QuartzEventType {
inline constexpr std::uint32_t keyDown = 10;
inline constexpr std::uint32_t keyUp = 11;
inline constexpr std::uint32_t flagsChanged = 12;
inline constexpr std::uint32_t tapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t tapDisabledByUserInput = 0xFFFFFFFF;
}  // namespace QuartzEventType

// The shared bits say "a key of this kind is down"; the side bits say which one.
namespace QuartzFlag {
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
}  // namespace QuartzFlag

// A tracked key as the tap knows it.
struct QuartzKey {
  std::int64_t keyCode;
  ModifierKey key;
  std::uint64_t flag;       // the bit shared by the left and right keys of this kind
  std::uint64_t sideFlag;   // this key's own side bit; 0 where there is none
  std::uint64_t kindSides;  // every side bit of this kind
};

// The row of a virtual key code; null for a key that is not tracked (right Control among them).
const QuartzKey* findQuartzKey(std::int64_t keyCode);

// Whether `flags` hold `key` down: by its own side bit when the flags carry any side bit of its
// kind, else by the shared bit. Side bits tell a released right Command from a held left one.
bool isQuartzKeyDown(const QuartzKey& key, std::uint64_t flags);

// The tap callback's body: a flags change of a tracked key becomes keyDown() or keyUp(), either
// tap-disabled notice listeningInterrupted(); anything else, or a null monitor, does nothing.
void deliverQuartzEvent(HotkeyMonitor* monitor, std::uint32_t type, std::int64_t keyCode,
                        std::uint64_t flags);

}  // namespace vigil
