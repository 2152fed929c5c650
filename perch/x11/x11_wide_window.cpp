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
#include <X11/extensions/Xrandr.h>

#include <cstring>

#include "x11_mascot_platform.h"

namespace perch {

bool X11MascotPlatform::serverIsXwayland() const {
  // Newer servers have an extension of that name; older ones name their outputs XWAYLAND0, ...
  int opcode = 0, event = 0, error = 0;
  if (XQueryExtension(display_, "XWAYLAND", &opcode, &event, &error)) return true;
  if (randrEvent_ < 0) return false;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display_, root_);
  if (resources == nullptr) return false;
  bool found = false;
  for (int i = 0; i < resources->noutput && !found; ++i) {
    XRROutputInfo* output = XRRGetOutputInfo(display_, resources, resources->outputs[i]);
    if (output == nullptr) continue;
    found = output->name != nullptr && std::strncmp(output->name, "XWAYLAND", 8) == 0;
    XRRFreeOutputInfo(output);
  }
  XRRFreeScreenResources(resources);
  return found;
}

void X11MascotPlatform::widen(bool wide) {
  wide = wide && xwayland_;
  if (wide == widened_) return;
  widened_ = wide;
  setNeedsDisplay();  // the new size goes out with its picture and shapes
}

}  // namespace perch
