// Whether vigil may read the keyboards, judged from what opening them gave: plain values in, the
// lines' texts out, so every outcome is tested without devices.
#pragma once

#include <string>
#include <vector>

#include "monitor_platform.h"

namespace vigil {

struct KeyboardOpening {
  std::string devnode;  // "/dev/input/event3"
  int error = 0;        // errno of the open; 0 when it opened
};

// The permission verdict and, when the keyboards cannot be read, the "error" line's message.
using KeyboardAccess = KeySourceOpening;

// `inputDirectoryExists`: /dev/input is there. `otherNodesReadable` and `otherNodesDenied` count
// the event nodes that are not keyboards, by whether this process may read them; they decide
// only when no keyboard is plugged in. A keyboard that cannot be read for lack of permission
// fails the whole start-up: a monitor that hears some keyboards and says "ready" would miss the
// keys of the others without anyone knowing.
KeyboardAccess judgeKeyboardAccess(bool inputDirectoryExists,
                                   const std::vector<KeyboardOpening>& keyboards,
                                   int otherNodesReadable, int otherNodesDenied);

// Whether an open failed for lack of permission rather than because the device is gone.
bool isPermissionError(int error);

// What the "permission_required" line tells the user to do.
extern const char* const kInputGroupMessage;

}  // namespace vigil
