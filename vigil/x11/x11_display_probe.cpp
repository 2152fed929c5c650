#include "x11_display_probe.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>

namespace vigil {
namespace {

int ignoreXError(Display*, XErrorEvent*) { return 0; }

bool hasXwaylandOutput(Display* display) {
  int event = 0, error = 0;
  if (!XRRQueryExtension(display, &event, &error)) return false;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
  if (resources == nullptr) return false;
  bool found = false;
  for (int i = 0; i < resources->noutput && !found; ++i) {
    XRROutputInfo* output = XRRGetOutputInfo(display, resources, resources->outputs[i]);
    if (output == nullptr) continue;
    found = output->name != nullptr && std::strncmp(output->name, "XWAYLAND", 8) == 0;
    XRRFreeOutputInfo(output);
  }
  XRRFreeScreenResources(resources);
  return found;
}

}  // namespace

bool displayIsXwayland() {
  auto previous = XSetErrorHandler(ignoreXError);
  Display* display = XOpenDisplay(nullptr);
  bool xwayland = false;
  if (display != nullptr) {
    int opcode = 0, event = 0, error = 0;
    xwayland =
        XQueryExtension(display, "XWAYLAND", &opcode, &event, &error) || hasXwaylandOutput(display);
    XCloseDisplay(display);
  }
  XSetErrorHandler(previous);
  return xwayland;
}

}  // namespace vigil
