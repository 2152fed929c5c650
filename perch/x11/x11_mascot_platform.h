// The mascot's desktop on X11, in parts that each own their state: the connection with its
// extensions and event source (x11_connection), the screens and the desktop's scale
// (x11_screens), the panel's window with its shapes, stacking and compositor (x11_panel_window),
// the pointer with its press and cursors (x11_pointer), the picture with its redraws, drawing
// library and upload (x11_panel_picture); the ticking timer reads the connection
// (x11_connection) and GLib's main loop runs it all (perch/linux/main_loop).
// This class answers the core's calls by forwarding to them, and routes each event to the part
// that handles it.
#pragma once

#include <X11/Xlib.h>

#include <memory>
#include <string>

#include "floating_mascot_view.h"
#include "main_loop.h"
#include "mascot_platform.h"
#include "x11_connection.h"
#include "x11_panel_picture.h"
#include "x11_panel_window.h"
#include "x11_pointer.h"
#include "x11_screens.h"

namespace perch {

class X11MascotPlatform final : public MascotPlatform {
 public:
  // On the display named by $DISPLAY, or nothing without one.
  static std::unique_ptr<X11MascotPlatform> open();
  X11MascotPlatform(const X11MascotPlatform&) = delete;
  X11MascotPlatform& operator=(const X11MascotPlatform&) = delete;

  // The view whose pointer events and drawing this window carries.
  void attachView(FloatingMascotView& view);
  // Runs the main loop until terminate().
  void run() { loop_.run(); }
  bool terminated() const { return loop_.ended(); }
  // The drawing library could not be opened: perch cannot show anything and has stopped.
  bool failed() const { return picture_.failed(); }
  // Opens the drawing library once the loop is idle, so that the first frame need not wait for it.
  void prepareDrawing() { picture_.prepareDrawing(); }

  std::vector<Rect> screens() override { return screens_.screens(); }
  std::optional<Rect> mainScreen() override;
  void setPanelFrame(const Rect& frame) override;
  void setPanelOrigin(Point origin) override;
  Rect panelFrame() override { return frame_; }
  std::optional<Rect> panelScreen() override { return screens_.panelScreen(); }
  void orderFront() override;
  void orderOut() override;
  void setNeedsDisplay() override { picture_.setNeedsDisplay(); }
  void setNeedsDisplayInRect(const Rect& area) override { picture_.setNeedsDisplayInRect(area); }
  double now() override { return MainLoop::now(); }
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                    std::function<void()> tick) override;
  void runAfter(double delay, std::function<void()> work) override;
  Point mouseLocation() override { return pointer_.mouseLocation(); }
  void setCursor(Cursor cursor) override { pointer_.setCursor(cursor); }
  void openURL(std::string_view url) override;
  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override;
  void writeLine(std::string_view line) override;
  void terminate() override { loop_.quit(); }

 private:
  explicit X11MascotPlatform(Display* display);
  void handleEvent(XEvent& event);
  void readScreens();
  // The resource database or the XSETTINGS changed: a new scale takes effect from the next frame.
  void scaleMayHaveChanged();
  void widen(bool wide);

  MainLoop loop_;
  X11Connection connection_;
  Rect frame_{0, 0, 56, 56};  // as the core last set it
  X11Screens screens_;
  X11PanelWindow panel_;
  X11PanelPicture picture_;
  X11Pointer pointer_;
  FloatingMascotView* view_ = nullptr;
};

}  // namespace perch
