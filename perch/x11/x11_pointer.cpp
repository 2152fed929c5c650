// The pointer: presses, drags, releases and crossings translated into the view's calls, the
// pointer's location, and the cursors shown over the panel.
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <X11/cursorfont.h>

#include "x11_pointer.h"

namespace perch {

X11Pointer::X11Pointer(const X11Connection& connection, const X11Screens& screens,
                       const X11PanelWindow& panel, std::function<void(bool)> widen)
    : display_(connection.display()),
      root_(connection.root()),
      screens_(screens),
      panel_(panel),
      widen_(std::move(widen)) {}

X11Pointer::~X11Pointer() {
  for (auto& [kind, cursor] : cursors_) XFreeCursor(display_, cursor);
}

Point X11Pointer::mouseLocation() {
  // The pointer as of the latest pointer event handled: where it was when the press or movement
  // being handled happened, which a round trip made later could no longer tell.
  if (lastPointer_) return screens_.space().fromRoot(*lastPointer_);
  Window rootReturn, child;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned int buttons = 0;
  XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &buttons);
  return screens_.space().fromRoot(Point{double(rootX), double(rootY)});
}

unsigned long X11Pointer::loadCursor(Cursor cursor) {
  if (auto it = cursors_.find(cursor); it != cursors_.end()) return it->second;
  // Names from the user's cursor theme, then a cursor-font shape that always exists.
  struct Choice {
    const char* names[3];
    unsigned fallback;
  };
  const Choice choice =
      cursor == Cursor::pointingHand ? Choice{{"pointer", "hand2", nullptr}, XC_hand2}
      : cursor == Cursor::closedHand ? Choice{{"grabbing", "closedhand", "fleur"}, XC_fleur}
                                     : Choice{{"default", "left_ptr", nullptr}, XC_left_ptr};
  unsigned long loaded = 0;
  for (const char* name : choice.names) {
    if (name != nullptr && loaded == 0) loaded = XcursorLibraryLoadCursor(display_, name);
  }
  if (loaded == 0) loaded = XCreateFontCursor(display_, choice.fallback);
  cursors_[cursor] = loaded;
  return loaded;
}

void X11Pointer::setCursor(Cursor cursor) {
  XDefineCursor(display_, panel_.id(), loadCursor(cursor));
  XFlush(display_);
}

Point X11Pointer::rootViewPoint(int rootX, int rootY) const {
  // From the root position: the window may have moved or widened since the server sent it.
  return viewPoint(rootX - panel_.shown().window.x, rootY - panel_.shown().window.y);
}

Point X11Pointer::viewPoint(int x, int y) const {
  // A pixel stands for its centre: the hit test then takes exactly the pixels the input shape
  // gives the hit area (see X11PanelWindow::applyShapes()).
  return ScreenSpace::viewPoint(x, y, panel_.shown(), screens_.space().scale());
}

void X11Pointer::handle(XEvent& event) {
  if (view_ == nullptr) return;
  switch (event.type) {
    case ButtonPress:
    case ButtonRelease:
      lastPointer_ = Point{double(event.xbutton.x_root), double(event.xbutton.y_root)};
      break;
    case EnterNotify:
    case LeaveNotify:
      lastPointer_ = Point{double(event.xcrossing.x_root), double(event.xcrossing.y_root)};
      break;
  }
  switch (event.type) {
    case ButtonPress:
      if (event.xbutton.button != Button1) return;
      endPress();  // a press still held here lost its release
      buttonHeld_ = true;
      view_->mouseDown(rootViewPoint(event.xbutton.x_root, event.xbutton.y_root));
      break;
    case MotionNotify: {
      // A fast drag queues many motions: only the latest of a run matters, since the drag reads
      // the pointer's position at the moment it looks. Only motions queued right behind this one
      // merge with it; a press or release in between keeps its place.
      XEvent next;
      while (XEventsQueued(display_, QueuedAlready) > 0 && XPeekEvent(display_, &next) &&
             next.type == MotionNotify && next.xmotion.window == panel_.id()) {
        XNextEvent(display_, &event);
      }
      lastPointer_ = Point{double(event.xmotion.x_root), double(event.xmotion.y_root)};
      if (buttonHeld_ && !(event.xmotion.state & Button1Mask)) endPress();  // its release was lost
      if (buttonHeld_) {
        view_->mouseDragged();
      } else {
        trackPointer(rootViewPoint(event.xmotion.x_root, event.xmotion.y_root), true);
      }
      break;
    }
    case ButtonRelease:
      if (event.xbutton.button != Button1 || !buttonHeld_) return;
      buttonHeld_ = false;
      view_->mouseUp(rootViewPoint(event.xbutton.x_root, event.xbutton.y_root));
      widen_(pointerInHitArea_);
      break;
    case EnterNotify:
      if (event.xcrossing.mode == NotifyGrab) endPress();
      if (!buttonHeld_) {
        trackPointer(rootViewPoint(event.xcrossing.x_root, event.xcrossing.y_root), true);
      }
      break;
    case LeaveNotify:
      if (event.xcrossing.mode == NotifyGrab) endPress();  // another program took the pointer
      // Widening the window on Xwayland may make the compositor take the pointer off it for a
      // moment: a leave over the button itself is not one.
      if (!buttonHeld_ &&
          !(panel_.widened() && view_->hitArea().contains(rootViewPoint(event.xcrossing.x_root,
                                                                        event.xcrossing.y_root)))) {
        trackPointer({}, false);
      }
      break;
  }
}

void X11Pointer::endPress() {
  if (!buttonHeld_) return;
  buttonHeld_ = false;
  pointerInHitArea_ = false;  // the next movement over the button enters it afresh
  if (view_ != nullptr) view_->mouseCancelled();
  widen_(false);
}

void X11Pointer::reset() {
  endPress();
  pointerInHitArea_ = false;
}

void X11Pointer::trackPointer(Point point, bool inWindow) {
  const bool inside = inWindow && view_->hitArea().contains(point);
  if (inside == pointerInHitArea_) return;
  pointerInHitArea_ = inside;
  widen_(inside);
  if (inside) {
    view_->mouseEntered();
    view_->cursorUpdate();
  } else {
    view_->mouseExited();
  }
}

}  // namespace perch
