// The mascot's desktop on macOS: a borderless, non-activating NSPanel at status-window level on
// every Space, holding one layer-backed view that carries pointer events and drawing to the core;
// NSScreen frames, which are already the core's screen space; NSTimer and the main dispatch queue
// for time; NSCursor, NSWorkspace and standard output. Main thread only. The header names no
// Apple type, so that any C++ file may include it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "floating_mascot_view.h"
#include "mascot_platform.h"

namespace perch {

class MacOSMascotPlatform final : public MascotPlatform {
 public:
  MacOSMascotPlatform();
  ~MacOSMascotPlatform() override;
  MacOSMascotPlatform(const MacOSMascotPlatform&) = delete;
  MacOSMascotPlatform& operator=(const MacOSMascotPlatform&) = delete;

  // Creates the panel's view over `view`, then the idle-sized panel, not yet on the screen.
  // Needs the shared NSApplication to exist.
  void attachView(FloatingMascotView& view);
  // The panel's launch configuration, every step but taking it off the screen, which the core's
  // launch does next.
  void configurePanel();
  // After terminate() nothing queued behind it is carried out.
  bool terminated() const { return terminated_; }

  std::vector<Rect> screens() override;
  std::optional<Rect> mainScreen() override;
  void setPanelFrame(const Rect& frame) override;
  void setPanelOrigin(Point origin) override;
  Rect panelFrame() override;
  std::optional<Rect> panelScreen() override;
  void orderFront() override;
  void orderOut() override;
  void setNeedsDisplay() override;
  double now() override;
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                    std::function<void()> tick) override;
  void runAfter(double delay, std::function<void()> work) override;
  Point mouseLocation() override;
  void setCursor(Cursor cursor) override;
  void openURL(std::string_view url) override;
  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override;
  void writeLine(std::string_view line) override;
  void terminate() override;

 private:
  struct Objects;  // the panel and its view, owned
  std::unique_ptr<Objects> objects_;
  FloatingMascotView* view_ = nullptr;  // not owned
  bool terminated_ = false;
};

}  // namespace perch
