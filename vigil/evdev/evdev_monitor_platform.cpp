#include "evdev_monitor_platform.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <set>

#include "fd_watch.h"

namespace vigil {
namespace {

constexpr const char* kInputDirectory = "/dev/input";

PlatformFacts evdevFacts() {
  PlatformFacts facts;
  // The kernel sees Fn where a keyboard reports it; reading keyboards needs the input group.
  facts.capability = CapabilityEvent{"linux", true, true, true};
  facts.permissionRequiredMessage = kInputGroupMessage;
  facts.sourceUnavailableMessage = "Kernel keyboard events unavailable.";
  facts.sourceNotRestoredMessage = "Kernel keyboard events stopped and could not be restored.";
  return facts;
}

bool isEventNode(const char* devnode) {
  return devnode != nullptr && std::strncmp(devnode, "/dev/input/event", 16) == 0;
}

// Keeps only the tracked keys: every other event type and key code is disabled, so libevdev
// drops their events and holds no state of them (the value read at open is cleared first).
void keepOnlyTrackedKeys(libevdev* device) {
  const std::vector<unsigned>& tracked = trackedEvdevCodes();
  for (unsigned type = EV_KEY + 1; type <= EV_MAX; ++type) {
    if (libevdev_has_event_type(device, type)) libevdev_disable_event_type(device, type);
  }
  for (unsigned code = 0; code <= KEY_MAX; ++code) {
    if (!libevdev_has_event_code(device, EV_KEY, code)) continue;
    if (std::find(tracked.begin(), tracked.end(), code) != tracked.end()) continue;
    libevdev_set_event_value(device, EV_KEY, code, 0);
    libevdev_disable_event_code(device, EV_KEY, code);
  }
}

std::set<unsigned> trackedKeysHeld(libevdev* device) {
  std::set<unsigned> held;
  for (unsigned code : trackedEvdevCodes()) {
    if (libevdev_has_event_code(device, EV_KEY, code) &&
        libevdev_get_event_value(device, EV_KEY, code) == 1) {
      held.insert(code);
    }
  }
  return held;
}

}  // namespace

EvdevMonitorPlatform::EvdevMonitorPlatform()
    : facts_(evdevFacts()),
      output_([this] { stop(); }),
      signals_([this] { stop(); }),
      session_([this](bool listening) { setListening(listening); }) {
  // The host closing our standard output ends the run quietly (output_); so does a polite signal
  // (signals_).
}

EvdevMonitorPlatform::~EvdevMonitorPlatform() { closeAll(); }

KeySourceOpening EvdevMonitorPlatform::openKeySource(HotkeyMonitor& monitor, bool) {
  const KeyboardAccess access = discover();
  if (access.failure) {
    closeAll();
    return access;
  }
  monitor_ = &monitor;
  udevWatch_ = watchFd(
      udev_monitor_get_fd(udevMonitor_), static_cast<GIOCondition>(G_IO_IN | G_IO_ERR | G_IO_HUP),
      [](gint, GIOCondition, gpointer self) -> gboolean {
        static_cast<EvdevMonitorPlatform*>(self)->onUdevEvent();
        return G_SOURCE_CONTINUE;
      },
      this);
  attached_ = true;
  return access;
}

// GLib's default context, driven by hand so that a key never passes through it: the keyboards
// are polled beside GLib's own descriptors, and a wake-up that only a keyboard caused is handled
// here and the poll resumed, as if GLib's poll had not returned yet. Anything the key path
// changes on the context (the writer's watch when the host's pipe is full, a quit) wakes it
// through its own event fd, as a change from another thread would, and GLib then prepares afresh.
// Keyboards are handled before GLib's sources of the same wake-up, but never starve them: any
// ready descriptor of GLib's, or its timeout, ends the round.
void EvdevMonitorPlatform::run() {
  if (!attached_) return;
  GMainContext* context = g_main_context_default();
  if (!g_main_context_acquire(context)) return;
  std::vector<GPollFD> glibFds(8);
  std::vector<pollfd> fds;
  std::vector<EvdevKeyboards::KeyboardId> polled;
  while (!loop_.quitRequested()) {
    gint priority = 0;
    g_main_context_prepare(context, &priority);
    gint timeout = -1;
    gint count = 0;
    while ((count = g_main_context_query(context, priority, &timeout, glibFds.data(),
                                         static_cast<gint>(glibFds.size()))) >
           static_cast<gint>(glibFds.size())) {
      glibFds.resize(static_cast<std::size_t>(count));
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout);
    for (bool glibReady = false; !glibReady && !loop_.quitRequested();) {
      fds.clear();
      polled.clear();
      for (gint i = 0; i < count; ++i) {
        fds.push_back({glibFds[i].fd, static_cast<short>(glibFds[i].events), 0});
      }
      for (const auto& [id, keyboard] : keyboards_) {
        fds.push_back({keyboard->fd, POLLIN, 0});
        polled.push_back(id);
      }
      int wait = timeout;
      if (timeout >= 0) {
        wait = static_cast<int>(std::max<std::int64_t>(
            0, std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                            std::chrono::steady_clock::now())
                   .count()));
      }
      const int ready = poll(fds.data(), fds.size(), wait);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;  // GLib's timeout, or a failure it will see too
      for (gint i = 0; i < count; ++i) {
        glibFds[i].revents = static_cast<gushort>(fds[i].revents);
        glibReady = glibReady || fds[i].revents != 0;
      }
      for (std::size_t k = 0; k < polled.size(); ++k) {
        if (fds[static_cast<std::size_t>(count) + k].revents == 0) continue;
        auto found = keyboards_.find(polled[k]);  // an earlier one may have dropped it
        if (found != keyboards_.end()) readKeyboard(*found->second);
      }
      if (wait == 0) break;
    }
    if (g_main_context_check(context, priority, glibFds.data(), count)) {
      g_main_context_dispatch(context);
    }
  }
  g_main_context_release(context);
}

void EvdevMonitorPlatform::writeLine(std::string_view line) { output_.writeLine(line); }

void EvdevMonitorPlatform::stop() { loop_.quit(); }

KeyboardAccess EvdevMonitorPlatform::discover() {
  struct stat info {};
  if (stat(kInputDirectory, &info) != 0 || !S_ISDIR(info.st_mode)) {
    return judgeKeyboardAccess(false, {}, 0, 0);
  }
  udev_ = udev_new();
  if (udev_ != nullptr) udevMonitor_ = udev_monitor_new_from_netlink(udev_, "udev");
  // Listening starts before the first scan, so a keyboard plugged in meanwhile is not missed.
  if (udevMonitor_ == nullptr ||
      udev_monitor_filter_add_match_subsystem_devtype(udevMonitor_, "input", nullptr) < 0 ||
      udev_monitor_enable_receiving(udevMonitor_) < 0) {
    return KeyboardAccess{true, std::string("Unable to watch for keyboards through udev.")};
  }
  int otherReadable = 0, otherDenied = 0;
  std::vector<KeyboardOpening> openings = scan(&otherReadable, &otherDenied);
  return judgeKeyboardAccess(true, openings, otherReadable, otherDenied);
}

std::vector<KeyboardOpening> EvdevMonitorPlatform::scan(int* otherReadable, int* otherDenied) {
  std::vector<KeyboardOpening> openings;
  std::set<std::string> listed;
  udev_enumerate* enumerate = udev_enumerate_new(udev_);
  if (enumerate == nullptr) return openings;
  udev_enumerate_add_match_subsystem(enumerate, "input");
  udev_enumerate_scan_devices(enumerate);
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (device == nullptr) continue;
    const char* devnode = udev_device_get_devnode(device);
    if (isEventNode(devnode)) {
      std::string syspath = udev_device_get_syspath(device);
      if (isKeyboard(device)) {
        listed.insert(syspath);
        openings.push_back({devnode, openKeyboard(syspath, devnode)});
      } else if (faccessat(AT_FDCWD, devnode, R_OK, AT_EACCESS) == 0) {
        ++*otherReadable;
      } else if (isPermissionError(errno)) {
        ++*otherDenied;
      }
    }
    udev_device_unref(device);
  }
  udev_enumerate_unref(enumerate);
  std::vector<EvdevKeyboards::KeyboardId> gone;
  for (const auto& [id, keyboard] : keyboards_) {
    if (listed.count(keyboard->syspath) == 0) gone.push_back(id);
  }
  for (EvdevKeyboards::KeyboardId id : gone) dropKeyboard(id);
  return openings;
}

bool EvdevMonitorPlatform::isKeyboard(udev_device* device) const {
  const char* keyboard = udev_device_get_property_value(device, "ID_INPUT_KEYBOARD");
  if (keyboard != nullptr && std::strcmp(keyboard, "1") == 0) return true;
  // udev calls a device with modifier keys alone only ID_INPUT_KEY: look at its key bits.
  udev_device* input = udev_device_get_parent_with_subsystem_devtype(device, "input", nullptr);
  if (input == nullptr) return false;
  const char* bits = udev_device_get_sysattr_value(input, "capabilities/key");
  return bits != nullptr && keyBitsHoldTrackedCode(bits);
}

int EvdevMonitorPlatform::openKeyboard(const std::string& syspath, const std::string& devnode) {
  for (const auto& [id, keyboard] : keyboards_) {
    if (keyboard->syspath == syspath) return 0;
  }
  // Read only, never grabbed: other programs keep getting every key.
  int fd = open(devnode.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  libevdev* device = nullptr;
  int rc = libevdev_new_from_fd(fd, &device);
  if (rc < 0) {
    close(fd);
    return -rc;
  }
  keepOnlyTrackedKeys(device);
  auto keyboard = std::make_unique<Keyboard>();
  keyboard->id = nextId_++;
  keyboard->syspath = syspath;
  keyboard->devnode = devnode;
  keyboard->fd = fd;
  keyboard->device = device;
  merged_.add(keyboard->id, trackedKeysHeld(device));
  keyboards_.emplace(keyboard->id, std::move(keyboard));
  return 0;
}

// Every event libevdev has read and still holds; it reads the node when it holds none, until
// the node's queue is empty.
void EvdevMonitorPlatform::readKeyboard(Keyboard& keyboard) {
  const EvdevKeyboards::KeyboardId id = keyboard.id;
  input_event event{};
  for (;;) {
    int rc = libevdev_next_event(keyboard.device, LIBEVDEV_READ_FLAG_NORMAL, &event);
    if (rc == LIBEVDEV_READ_STATUS_SUCCESS) {
      if (event.type != EV_KEY) continue;
      if (auto change = merged_.key(id, event.code, event.value)) deliver(*change);
    } else if (rc == LIBEVDEV_READ_STATUS_SYNC) {
      // Events were dropped: let libevdev catch up with the kernel's state, then report the
      // difference between that and what was reported.
      while (libevdev_next_event(keyboard.device, LIBEVDEV_READ_FLAG_SYNC, &event) ==
             LIBEVDEV_READ_STATUS_SYNC) {
      }
      deliver(merged_.resync(id, trackedKeysHeld(keyboard.device)));
    } else if (rc == -EAGAIN) {
      return;
    } else {
      // Unplugged (ENODEV) or broken: whatever it held is released.
      dropKeyboard(id);
      return;
    }
  }
}

void EvdevMonitorPlatform::dropKeyboard(EvdevKeyboards::KeyboardId id) {
  auto found = keyboards_.find(id);
  if (found == keyboards_.end()) return;
  std::unique_ptr<Keyboard> keyboard = std::move(found->second);
  keyboards_.erase(found);
  libevdev_free(keyboard->device);
  close(keyboard->fd);
  deliver(merged_.remove(id));
}

void EvdevMonitorPlatform::closeAll() {
  while (!keyboards_.empty()) {
    auto last = std::prev(keyboards_.end());
    libevdev_free(last->second->device);
    close(last->second->fd);
    keyboards_.erase(last);
  }
  if (udevWatch_ != 0) g_source_remove(udevWatch_);
  udevWatch_ = 0;
  if (udevMonitor_ != nullptr) udev_monitor_unref(udevMonitor_);
  udevMonitor_ = nullptr;
  if (udev_ != nullptr) udev_unref(udev_);
  udev_ = nullptr;
}

void EvdevMonitorPlatform::onUdevEvent() {
  for (;;) {
    errno = 0;
    udev_device* device = udev_monitor_receive_device(udevMonitor_);
    if (device == nullptr) {
      // The socket overflowed and notices were lost: look at what is plugged in now.
      if (errno == ENOBUFS) {
        int readable = 0, denied = 0;
        for (const KeyboardOpening& opening : scan(&readable, &denied)) {
          if (isPermissionError(opening.error)) {
            monitor_->listeningLost("Cannot read the keyboard " + opening.devnode + ": " +
                                    std::strerror(opening.error) + ".");
            stop();
            return;
          }
        }
        continue;
      }
      return;
    }
    const char* action = udev_device_get_action(device);
    const char* devnode = udev_device_get_devnode(device);
    const std::string syspath = udev_device_get_syspath(device);
    if (action != nullptr) {
      if (std::strcmp(action, "remove") == 0) {
        for (const auto& [id, keyboard] : keyboards_) {
          if (keyboard->syspath == syspath) {
            dropKeyboard(id);
            break;
          }
        }
      } else if (std::strcmp(action, "add") == 0 && isEventNode(devnode) && isKeyboard(device)) {
        int error = openKeyboard(syspath, devnode);
        if (isPermissionError(error)) {
          // Hearing only some keyboards would miss keys silently: stop, saying why.
          const std::string message = "Cannot read the keyboard " + std::string(devnode) + ": " +
                                      std::strerror(error) + ".";
          udev_device_unref(device);
          monitor_->listeningLost(message);
          stop();
          return;
        }
      }
    }
    udev_device_unref(device);
  }
}

// Every keyboard of the machine reaches us, whoever is in front and whether the screen is locked:
// the monitor stops listening while the user's session is not in front or locked. Back in front,
// each keyboard's state is read fresh, and what it holds then counts as held before vigil saw it.
void EvdevMonitorPlatform::setListening(bool listening) {
  if (monitor_ == nullptr) return;
  if (listening) {
    std::vector<EvdevKeyboards::KeyboardId> ids;
    for (const auto& [id, keyboard] : keyboards_) ids.push_back(id);
    for (EvdevKeyboards::KeyboardId id : ids) {
      auto found = keyboards_.find(id);
      if (found == keyboards_.end()) continue;
      readKeyboard(*found->second);  // what is still queued, heard by nobody
      found = keyboards_.find(id);
      if (found == keyboards_.end()) continue;  // unplugged meanwhile
      merged_.remove(id);
      merged_.add(id, trackedKeysHeld(found->second->device));
    }
  }
  monitor_->setListening(listening);
}

void EvdevMonitorPlatform::deliver(const KeyChange& change) {
  if (change.down) {
    monitor_->keyDown(change.key);
  } else {
    monitor_->keyUp(change.key);
  }
}

void EvdevMonitorPlatform::deliver(const std::vector<KeyChange>& changes) {
  for (const KeyChange& change : changes) deliver(change);
}

}  // namespace vigil
