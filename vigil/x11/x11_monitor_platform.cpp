#include "x11_monitor_platform.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <unistd.h>
#include <csignal>
#include <cstdlib>

namespace vigil {
namespace {

PlatformFacts linuxFacts() {
  PlatformFacts facts;
  // X key codes stop at 255, so Fn never reaches an X client; no permission is asked for.
  facts.capability = CapabilityEvent{"linux", false, true, false};
  facts.permissionRequiredMessage = "Accessibility permission is required for modifier monitoring.";
  facts.sourceUnavailableMessage = "XInput2 raw key events unavailable.";
  facts.sourceNotRestoredMessage = "XInput2 key event tap was disabled and could not be restored.";
  return facts;
}

}  // namespace

X11MonitorPlatform::X11MonitorPlatform()
    : facts_(linuxFacts()),
      output_([this] { stop(); }),
      signals_([this] { stop(); }),
      // Raw events keep coming while a locker holds the keyboard, and while another session is
      // in front: the monitor stops listening then.
      session_([this](bool listening) {
        if (monitor_ != nullptr) monitor_->setListening(listening);
      }) {
  // The host closing our standard output ends the run quietly (output_); so does a polite signal
  // (signals_).
}

X11MonitorPlatform::~X11MonitorPlatform() {
  source_.reset();
  if (display_ != nullptr) XCloseDisplay(display_);
}

KeySourceOpening X11MonitorPlatform::openKeySource(HotkeyMonitor& monitor, bool) {
  x11_support::quietXErrors();
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) {
    return {true, std::string("Unable to open X display \"") + XDisplayName(nullptr) + "\"."};
  }
  XSetIOErrorExitHandler(display_, &X11MonitorPlatform::onConnectionLost, this);

  int event = 0, error = 0;
  if (!XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error)) {
    return {true, "The X server has no XInput extension."};
  }
  int major = 2, minor = 2;
  if (XIQueryVersion(display_, &major, &minor) != Success || major < 2 ||
      (major == 2 && minor < 2)) {
    return {
        true,
        "The X server offers XInput " + std::to_string(major) + "." + std::to_string(minor) +
            "; raw key events need 2.2.",
    };
  }
  monitor_ = &monitor;
  selectRawKeys();

  source_ = std::make_unique<x11_support::ConnectionSource>(display_,
                                                            [this] { dispatchPendingEvents(); });
  return {};
}

// Keyboards come and go as slaves of the master keyboard, whose raw events are selected already.
void X11MonitorPlatform::selectRawKeys() {
  unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(bits, XI_RawKeyPress);
  XISetMask(bits, XI_RawKeyRelease);
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof(bits)), bits};
  XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
  // The selection is in force at the server before anyone is told the source is ready.
  XSync(display_, False);
}

void X11MonitorPlatform::resumeKeySource() {
  if (source_ != nullptr) selectRawKeys();
}

void X11MonitorPlatform::run() {
  // Without the X connection nothing is left to watch: return rather than idle forever.
  if (source_ == nullptr) return;
  loop_.run();
}

void X11MonitorPlatform::writeLine(std::string_view line) { output_.writeLine(line); }

void X11MonitorPlatform::stop() { loop_.quit(); }

void X11MonitorPlatform::dispatchPendingEvents() {
  // A batch at a time, so that a flood of keys never keeps the loop from writing lines out or
  // from seeing a signal; events left over are already queued and dispatch straight away.
  for (int batch = 0; batch < 256 && XPending(display_) > 0; ++batch) {
    XEvent event;
    XNextEvent(display_, &event);
    handleXEvent(event);
  }
}

void X11MonitorPlatform::handleXEvent(XEvent& event) {
  XGenericEventCookie* cookie = &event.xcookie;
  if (cookie->type != GenericEvent || cookie->extension != xiOpcode_) return;
  if (!XGetEventData(display_, cookie)) return;
  if (cookie->evtype == XI_RawKeyPress || cookie->evtype == XI_RawKeyRelease) {
    auto* raw = static_cast<XIRawEvent*>(cookie->data);
    if (auto key = modifierKeyForXKeycode(static_cast<unsigned>(raw->detail))) {
      if (cookie->evtype == XI_RawKeyPress) {
        monitor_->keyDown(*key);
      } else {
        monitor_->keyUp(*key);
      }
    }
  }
  XFreeEventData(display_, cookie);
}

void X11MonitorPlatform::onConnectionLost(Display*, void* self) {
  // The server is gone and this connection can never be used again. Nothing held may stay
  // reported down: the monitor releases every key, says it is degraded, and the run ends.
  auto* platform = static_cast<X11MonitorPlatform*>(self);
  if (platform->monitor_ != nullptr) platform->monitor_->listeningLost("X server connection lost.");
  platform->output_.finish();
  std::exit(0);
}

}  // namespace vigil
