#include "xtest_keyboard.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace e2e {

XTestKeyboard::XTestKeyboard(const std::string& display) {
  display_ = XOpenDisplay(display.c_str());
}

XTestKeyboard::~XTestKeyboard() {
  if (display_) XCloseDisplay(display_);
}

void XTestKeyboard::press(unsigned keycode) {
  XTestFakeKeyEvent(display_, keycode, True, CurrentTime);
  XFlush(display_);
}

void XTestKeyboard::release(unsigned keycode) {
  XTestFakeKeyEvent(display_, keycode, False, CurrentTime);
  XFlush(display_);
}

void XTestKeyboard::tap(unsigned keycode) {
  press(keycode);
  release(keycode);
}

void XTestKeyboard::sync() { XSync(display_, False); }

}  // namespace e2e
