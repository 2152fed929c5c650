// The seam between the portable mascot and the desktop it runs on. A backend implements
// MascotPlatform; the core calls down through it, and the backend calls up through the
// controller's and the view's named operations (commands, pointer events, redraws).
// All coordinates are the core's screen space: origin at the primary screen's bottom-left, y up.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "canvas.h"
#include "geometry.h"
#include "mascot_protocol.h"

namespace perch {

enum class Cursor { arrow, pointingHand, closedHand };

// A repeating timer; destroying it stops it.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
};

class MascotPlatform {
 public:
  virtual ~MascotPlatform() = default;

  // Screens: every screen's frame, the primary one first; the main screen, if any.
  virtual std::vector<Rect> screens() = 0;
  virtual std::optional<Rect> mainScreen() = 0;

  // The panel. Setting its frame moves and resizes it at once and redraws it.
  virtual void setPanelFrame(const Rect& frame) = 0;
  virtual void setPanelOrigin(Point origin) = 0;  // moves it, keeping its size
  virtual Rect panelFrame() = 0;
  virtual std::optional<Rect> panelScreen() = 0;  // the screen the panel is on, if any
  virtual void orderFront() = 0;  // shows it above other windows without taking the focus
  virtual void orderOut() = 0;
  virtual void setNeedsDisplay() = 0;
  // Only `area` of the view (view coordinates) changed since the picture was last drawn: a
  // backend may redraw just that part. By default the whole view is redrawn.
  virtual void setNeedsDisplayInRect(const Rect& area) {
    (void)area;
    setNeedsDisplay();
  }

  // Time, on a monotonic clock, in seconds; main-thread timers and delayed work.
  virtual double now() = 0;
  virtual std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                            std::function<void()> tick) = 0;
  virtual void runAfter(double delay, std::function<void()> work) = 0;

  // Pointer and workspace.
  virtual Point mouseLocation() = 0;
  virtual void setCursor(Cursor cursor) = 0;
  virtual void openURL(std::string_view url) = 0;

  // The image in the file, ready to draw on this platform's canvas; null when the file is missing
  // or is not an image the platform can read.
  virtual std::unique_ptr<CanvasImage> loadImage(const std::string& path) = 0;

  // Writes one event line (the line feed is added here) and flushes it.
  virtual void writeLine(std::string_view line) = 0;
  // Ends the process at once with status 0.
  virtual void terminate() = 0;
};

// Writes one event line; an event that cannot be encoded is dropped silently.
inline void emit(MascotPlatform& platform, const MascotEvent& event) {
  if (auto line = encodeMascotEvent(event)) platform.writeLine(*line);
}

}  // namespace perch
