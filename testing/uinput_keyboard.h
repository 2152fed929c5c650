// Keyboards made through /dev/uinput: input devices of the running kernel, which udev sets up and
// any reader of /dev/input/event* sees exactly as it sees a USB keyboard. For tests and
// benchmarks that run on a real kernel (a virtual machine), as root.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct libevdev;
struct libevdev_uinput;

namespace e2e {

class UinputKeyboard {
 public:
  // A device named `name` that reports the key codes `keys` (linux/input-event-codes.h).
  UinputKeyboard(const std::string& name, const std::vector<unsigned>& keys);
  ~UinputKeyboard();
  UinputKeyboard(const UinputKeyboard&) = delete;
  UinputKeyboard& operator=(const UinputKeyboard&) = delete;

  // Every code of a full-size keyboard (Esc through the keypad, both Control, Shift, Alt and Meta
  // keys) and Fn, as Apple keyboards report it.
  static std::vector<unsigned> fullKeyboard();
  // The eight modifier keys and nothing else: udev does not call such a device a keyboard.
  static std::vector<unsigned> modifiersOnly();

  bool created() const { return uinput_ != nullptr; }
  // "/dev/input/eventN"; empty once unplugged.
  const std::string& devnode() const { return devnode_; }

  // One key event (1 press, 0 release, 2 autorepeat) and its SYN_REPORT.
  bool send(unsigned code, int value);
  bool press(unsigned code) { return send(code, 1); }
  bool release(unsigned code) { return send(code, 0); }
  // Removes the device from the kernel, as pulling out its cable does.
  void unplug();

 private:
  libevdev* device_ = nullptr;
  libevdev_uinput* uinput_ = nullptr;
  std::string devnode_;
};

// Whether `condition` holds before the deadline; it is checked every few milliseconds.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
// Whether udev has set the device node up as on every desktop: its database entry written, the
// node owned by root:input with mode 0660.
bool setUpByUdev(const std::string& devnode);
// The property NAME=value udev recorded for the device node, or "" without one.
std::string udevProperty(const std::string& devnode, const std::string& name);
// Whether process `pid` holds `path` open.
bool holdsOpen(pid_t pid, const std::string& path);
// Whether process `pid` is stopped (by SIGSTOP).
bool isStopped(pid_t pid);
// Whether process `pid` is asleep waiting in poll() (or, where the kernel does not say where a
// process waits, asleep at all): a single-threaded main loop is then done with what it had.
bool waitsInPoll(pid_t pid);

}  // namespace e2e
