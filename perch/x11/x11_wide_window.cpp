// The pointer on Xwayland. The Wayland compositor sends the X server pointer motion only while
// the pointer is over one of its windows, works out where it is from where it last knew that
// window to be, and the X server ends every press when the pointer enters one of its windows. A
// window that moves under a dragging pointer thus loses it, or puts it ahead of the hand. So on
// Xwayland, while the pointer is over the button or presses it, the window is widened with
// transparent margins on every side, and a drag moves the picture within it rather than the
// window, which stays put (and so stays under the pointer) until the panel would leave it. It is
// widened before the press, when the pointer comes over the button: widening moves the window's
// corner, which the compositor takes a moment to catch up with.
#include <X11/Xlib.h>

#include "x11_mascot_platform.h"

namespace perch {

void X11MascotPlatform::widen(bool wide) {
  wide = wide && xwayland_;
  if (wide == widened_) return;
  widened_ = wide;
  setNeedsDisplay();  // the new size goes out with its picture and shapes
}

}  // namespace perch
