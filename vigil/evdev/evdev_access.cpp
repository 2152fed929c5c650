#include "evdev_access.h"

#include <cerrno>
#include <cstring>

namespace vigil {

const char* const kInputGroupMessage =
    "Reading the keyboards needs membership of the input group (sudo usermod -aG input USER, "
    "then log in again) or, narrower, the udev rule "
    "/usr/share/doc/perch-vigil/examples/70-vigil-uaccess.rules copied to /etc/udev/rules.d/, "
    "which lets only the active local session read them.";

bool isPermissionError(int error) { return error == EACCES || error == EPERM; }

KeyboardAccess judgeKeyboardAccess(bool inputDirectoryExists,
                                   const std::vector<KeyboardOpening>& keyboards,
                                   int otherNodesReadable, int otherNodesDenied) {
  if (!inputDirectoryExists) {
    return {true,
            "There is no /dev/input: this system gives vigil no input devices to read "
            "(a container or a sandbox?)."};
  }
  const KeyboardOpening* firstDenied = nullptr;
  int denied = 0;
  for (const KeyboardOpening& k : keyboards) {
    if (!isPermissionError(k.error)) continue;
    if (firstDenied == nullptr) firstDenied = &k;
    ++denied;
  }
  if (firstDenied != nullptr) {
    std::string message = "Cannot read the keyboard " + firstDenied->devnode + ": " +
                          std::strerror(firstDenied->error);
    if (denied > 1) {
      message +=
          " (and " + std::to_string(denied - 1) + " more keyboard" + (denied > 2 ? "s" : "") + ")";
    }
    return {false, message + "."};
  }
  if (keyboards.empty() && otherNodesDenied > 0 && otherNodesReadable == 0) {
    return {false, "Cannot read any input device in /dev/input: " +
                       std::string(std::strerror(EACCES)) + "."};
  }
  return {};
}

}  // namespace vigil
