#include "xtest_pointer.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace e2e {

XTestPointer::XTestPointer(const std::string& display) { display_ = XOpenDisplay(display.c_str()); }

XTestPointer::~XTestPointer() {
  if (display_) XCloseDisplay(display_);
}

void XTestPointer::moveTo(int x, int y) {
  XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
  XSync(display_, False);
  x_ = x;
  y_ = y;
}

void XTestPointer::press(unsigned button) {
  XTestFakeButtonEvent(display_, button, True, CurrentTime);
  XSync(display_, False);
}

void XTestPointer::release(unsigned button) {
  XTestFakeButtonEvent(display_, button, False, CurrentTime);
  XSync(display_, False);
}

void XTestPointer::glideTo(int x, int y, int steps) {
  const int fromX = x_, fromY = y_;
  for (int i = 1; i <= steps; ++i) {
    moveTo(fromX + (x - fromX) * i / steps, fromY + (y - fromY) * i / steps);
  }
}

void XTestPointer::sync() { XSync(display_, False); }

}  // namespace e2e
