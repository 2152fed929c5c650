#include "xwayland.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstring>

namespace x11_support {
namespace {

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

bool isXwayland(Display* display) {
  int opcode = 0, event = 0, error = 0;
  return XQueryExtension(display, "XWAYLAND", &opcode, &event, &error) ||
         hasXwaylandOutput(display);
}

}  // namespace x11_support
