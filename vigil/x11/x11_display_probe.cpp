#include "x11_display_probe.h"

#include <X11/Xlib.h>

#include "connection.h"
#include "xwayland.h"

namespace vigil {

bool displayIsXwayland() {
  x11_support::quietXErrors();
  Display* display = XOpenDisplay(nullptr);
  bool xwayland = false;
  if (display != nullptr) {
    xwayland = x11_support::isXwayland(display);
    XCloseDisplay(display);
  }
  return xwayland;
}

}  // namespace vigil
