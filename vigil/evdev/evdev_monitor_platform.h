// The monitor's platform on the Linux kernel's input devices. The key source is every keyboard
// that udev knows, each read with libevdev (never grabbed, never written), plus a
// udev monitor that follows keyboards coming and going. GLib's default context runs all but the
// keys, which are read from a poll beside it. Works the same under X11, Wayland and on a text
// console.
#pragma once

#include <glib.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "evdev_access.h"
#include "evdev_keyboards.h"
#include "glib_stdout_writer.h"
#include "hotkey_monitor.h"
#include "monitor_platform.h"
#include "quittable_loop.h"
#include "session_watch.h"
#include "termination_signals.h"

struct libevdev;
struct udev;
struct udev_device;
struct udev_monitor;

namespace vigil {

class EvdevMonitorPlatform final : public MonitorPlatform {
 public:
  EvdevMonitorPlatform();
  ~EvdevMonitorPlatform() override;
  EvdevMonitorPlatform(const EvdevMonitorPlatform&) = delete;
  EvdevMonitorPlatform& operator=(const EvdevMonitorPlatform&) = delete;

  const PlatformFacts& facts() const override { return facts_; }
  // Opens every keyboard: "permitted" means no keyboard refused us for lack of permission.
  KeySourceOpening openKeySource(HotkeyMonitor& monitor, bool prompt) override;
  // Nothing is ever grabbed or switched off, so there is nothing to resume.
  void resumeKeySource() override {}
  void run() override;
  void writeLine(std::string_view line) override;

 private:
  struct Keyboard {
    EvdevKeyboards::KeyboardId id = 0;
    std::string syspath;
    std::string devnode;
    int fd = -1;
    libevdev* device = nullptr;
  };

  KeyboardAccess discover();
  // Opens every keyboard udev lists that is not open yet and closes those it no longer lists.
  // Returns how each open went, and counts the other event nodes by whether they are readable.
  std::vector<KeyboardOpening> scan(int* otherReadable, int* otherDenied);
  bool isKeyboard(udev_device* device) const;
  // 0 when the keyboard is open (or already was); else the errno of the failure.
  int openKeyboard(const std::string& syspath, const std::string& devnode);
  void readKeyboard(Keyboard& keyboard);
  void dropKeyboard(EvdevKeyboards::KeyboardId id);
  void closeAll();
  void onUdevEvent();
  void deliver(const KeyChange& change);
  void deliver(const std::vector<KeyChange>& changes);
  void setListening(bool listening);
  void stop();

  PlatformFacts facts_;
  QuittableLoop loop_;  // before the sources whose callbacks end it
  GlibStdoutWriter output_;
  TerminationSignals signals_;

  udev* udev_ = nullptr;
  udev_monitor* udevMonitor_ = nullptr;
  guint udevWatch_ = 0;
  std::map<EvdevKeyboards::KeyboardId, std::unique_ptr<Keyboard>> keyboards_;
  EvdevKeyboards::KeyboardId nextId_ = 1;
  EvdevKeyboards merged_;
  HotkeyMonitor* monitor_ = nullptr;
  bool attached_ = false;
  SessionWatch session_;  // last: its reports reach everything above
};

}  // namespace vigil
