// Kernel key events of every keyboard, merged into the tap's vocabulary: a tracked key is down
// while any keyboard holds it, and each change of that merged state becomes one flags-changed
// notification with flags synthesized from the merged keys. No device is touched here: the
// backend feeds in what it reads, so the rules can be tested with no keyboard at all.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "monitor_platform.h"

namespace vigil {

// The key code of the monitor's table for a kernel key code; -1 for a key outside it.
std::int64_t monitorKeyCodeForEvdevCode(unsigned code);

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
  std::vector<KeyEvent> key(KeyboardId id, unsigned code, int value);
  // After events were dropped: what the kernel says is held now, against what was reported.
  std::vector<KeyEvent> resync(KeyboardId id, const std::set<unsigned>& heldNow);
  // The keyboard is gone: whatever it held is released.
  std::vector<KeyEvent> remove(KeyboardId id);

  bool contains(KeyboardId id) const { return keyboards_.count(id) != 0; }
  std::uint64_t flags() const;

 private:
  struct Keyboard {
    std::uint32_t reported = 0;  // tracked keys this keyboard holds, by index
    std::uint32_t unseen = 0;    // tracked keys held since before it was opened
  };

  void press(Keyboard& keyboard, int index, std::vector<KeyEvent>& out);
  void release(Keyboard& keyboard, int index, std::vector<KeyEvent>& out);

  std::map<KeyboardId, Keyboard> keyboards_;
  std::vector<int> holders_ = std::vector<int>(trackedEvdevCodes().size(), 0);
};

}  // namespace vigil
