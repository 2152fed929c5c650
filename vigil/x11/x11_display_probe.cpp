#include "x11_display_probe.h"

#include <X11/Xlib.h>

#include "xwayland.h"

namespace vigil {
namespace {

int ignoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

bool displayIsXwayland() {
  auto previous = XSetErrorHandler(ignoreXError);
  Display* display = XOpenDisplay(nullptr);
  bool xwayland = false;
  if (display != nullptr) {
    xwayland = x11_support::isXwayland(display);
    XCloseDisplay(display);
  }
  XSetErrorHandler(previous);
  return xwayland;
}

}  // namespace vigil
