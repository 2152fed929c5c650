// Turns X's physical key presses into the tap's vocabulary: key codes of the monitor's table and
// flags with shared and side bits, synthesized from which keys this backend has seen held.
// No X header: the translation is plain arithmetic, tested on its own.
#pragma once

#include <cstdint>
#include <set>

#include "monitor_platform.h"

namespace vigil {

struct TapNotification {
  std::uint32_t type = 0;
  KeyEvent event;
};

// The key code of the monitor's table for an X key code; -1 for a key outside it.
std::int64_t monitorKeyCodeForXKeycode(unsigned xKeycode);

class X11ModifierFlags {
 public:
  // A modifier gives a flags-changed notification; any other key a key-down or key-up one.
  TapNotification press(unsigned xKeycode);
  TapNotification release(unsigned xKeycode);
  std::uint64_t flags() const;

 private:
  TapNotification notify(unsigned xKeycode, bool down);
  std::set<unsigned> modifiersHeld_;
};

}  // namespace vigil
