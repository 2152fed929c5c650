// Physical key presses injected into an X server through XTest, by X key code, the way a real
// keyboard's presses arrive (one press, one release: no keysym mapping, no doubled events).
#pragma once

#include <string>

typedef struct _XDisplay Display;

namespace e2e {

class XTestKeyboard {
 public:
  explicit XTestKeyboard(const std::string& display);
  ~XTestKeyboard();
  XTestKeyboard(const XTestKeyboard&) = delete;
  XTestKeyboard& operator=(const XTestKeyboard&) = delete;

  bool connected() const { return display_ != nullptr; }
  void press(unsigned keycode);
  void release(unsigned keycode);
  void tap(unsigned keycode);
  // Waits until the server has processed every injected key.
  void sync();
  Display* display() const { return display_; }

 private:
  Display* display_ = nullptr;
};

}  // namespace e2e
