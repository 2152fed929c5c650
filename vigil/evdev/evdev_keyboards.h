// Kernel key events of every keyboard, merged: a tracked key is down while any keyboard holds it,
// and each change of that merged state is one key going down or up. No device is touched here:
// the backend feeds in what it reads, so the rules can be tested with no keyboard at all.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "monitor_platform.h"

namespace vigil {

// The tracked key a kernel key code stands for; nothing for any other key (right Control too).
std::optional<ModifierKey> modifierKeyForEvdevCode(unsigned code);

// One tracked key going down or up.
struct KeyChange {
  ModifierKey key;
  bool down;
  bool operator==(const KeyChange&) const = default;
};

// The kernel key codes vigil tracks, in a fixed order.
const std::vector<unsigned>& trackedEvdevCodes();

// Whether a kernel key bitmap as sysfs prints it ("capabilities/key": unpadded hexadecimal words
// of the kernel's long, the most significant first, separated by spaces) holds a tracked code.
bool keyBitsHoldTrackedCode(std::string_view bitmap, unsigned bitsPerWord = sizeof(long) * 8);

class EvdevKeyboards {
 public:
  using KeyboardId = int;

  // A keyboard opened with `heldNow` down: those keys were pressed before vigil saw them, so
  // they stay unreported until released and pressed again.
  void add(KeyboardId id, const std::set<unsigned>& heldNow);
  // One key event: value 1 a press, 0 a release; autorepeat (2) and other values change nothing.
  std::optional<KeyChange> key(KeyboardId id, unsigned code, int value);
  // After events were dropped: what the kernel says is held now, against what was reported.
  std::vector<KeyChange> resync(KeyboardId id, const std::set<unsigned>& heldNow);
  // The keyboard is gone: whatever it held is released.
  std::vector<KeyChange> remove(KeyboardId id);

  bool contains(KeyboardId id) const { return keyboards_.count(id) != 0; }
  // Whether any keyboard holds a tracked key down.
  bool anyHeld() const;

 private:
  struct Keyboard {
    std::uint32_t reported = 0;  // tracked keys this keyboard holds, by index
    std::uint32_t unseen = 0;    // tracked keys held since before it was opened
  };

  // The key's change of the merged state, if any.
  std::optional<KeyChange> press(Keyboard& keyboard, int index);
  std::optional<KeyChange> release(Keyboard& keyboard, int index);

  std::map<KeyboardId, Keyboard> keyboards_;
  int holders_[kModifierKeyCount] = {};  // how many keyboards hold each tracked key
};

}  // namespace vigil
