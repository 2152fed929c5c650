// The monitor's platform on X11. The key source is an XInput 2.2 selection of raw key events on
// the root window for all master devices: raw events reach us even while another client holds a
// keyboard grab. GLib's main loop runs it; the X connection is its source.
#pragma once

#include <memory>
#include <string>

#include "connection.h"
#include "glib_stdout_writer.h"
#include "hotkey_monitor.h"
#include "monitor_platform.h"
#include "quittable_loop.h"
#include "session_watch.h"
#include "termination_signals.h"
#include "x11_key_translation.h"

typedef struct _XDisplay Display;
union _XEvent;

namespace vigil {

class X11MonitorPlatform final : public MonitorPlatform {
 public:
  X11MonitorPlatform();
  ~X11MonitorPlatform() override;
  X11MonitorPlatform(const X11MonitorPlatform&) = delete;
  X11MonitorPlatform& operator=(const X11MonitorPlatform&) = delete;

  const PlatformFacts& facts() const override { return facts_; }
  // No permission is asked for: "permitted" always.
  KeySourceOpening openKeySource(HotkeyMonitor& monitor, bool prompt) override;
  void resumeKeySource() override;
  void run() override;
  void writeLine(std::string_view line) override;

 private:
  static void onConnectionLost(Display* display, void* self);

  void dispatchPendingEvents();
  void handleXEvent(_XEvent& event);
  void selectRawKeys();
  void stop();

  PlatformFacts facts_;
  QuittableLoop loop_;  // before the sources whose callbacks end it
  GlibStdoutWriter output_;
  TerminationSignals signals_;
  SessionWatch session_;
  Display* display_ = nullptr;
  int xiOpcode_ = 0;
  HotkeyMonitor* monitor_ = nullptr;
  std::unique_ptr<x11_support::ConnectionSource> source_;
};

}  // namespace vigil
