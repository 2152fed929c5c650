// The pointer: presses, drags, releases and crossings on the panel's window translated into the
// view's calls, the pointer's location, and the cursors shown over the panel.
#pragma once

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <optional>

#include "floating_mascot_view.h"
#include "x11_connection.h"
#include "x11_panel_window.h"
#include "x11_screens.h"

namespace perch {

class X11Pointer {
 public:
  // `widen` widens the window while the pointer is over the button or presses it, or narrows it.
  X11Pointer(const X11Connection& connection, const X11Screens& screens,
             const X11PanelWindow& panel, std::function<void(bool)> widen);
  ~X11Pointer();
  X11Pointer(const X11Pointer&) = delete;
  X11Pointer& operator=(const X11Pointer&) = delete;

  void attachView(FloatingMascotView& view) { view_ = &view; }
  // A pointer event on the panel's window.
  void handle(XEvent& event);
  // Ends a press under way, and the pointer's being over the button: the next movement over the
  // button enters it afresh.
  void reset();
  Point mouseLocation();
  void setCursor(Cursor cursor);

 private:
  void trackPointer(Point viewPoint, bool inWindow);
  // Ends a press whose release will never come.
  void endPress();
  // The point of the view under a pointer event's root position.
  Point rootViewPoint(int rootX, int rootY) const;
  Point viewPoint(int x, int y) const;
  unsigned long loadCursor(Cursor cursor);

  Display* display_;
  Window root_;
  const X11Screens& screens_;
  const X11PanelWindow& panel_;
  std::function<void(bool)> widen_;
  FloatingMascotView* view_ = nullptr;
  bool pointerInHitArea_ = false;
  std::optional<Point> lastPointer_;  // root coordinates
  bool buttonHeld_ = false;
  std::map<Cursor, unsigned long> cursors_;
};

}  // namespace perch
