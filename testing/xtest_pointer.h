// A pointer driven through XTest: moves, presses and releases arrive as a real mouse's would.
#pragma once

#include <string>

typedef struct _XDisplay Display;

namespace e2e {

class XTestPointer {
 public:
  explicit XTestPointer(const std::string& display);
  ~XTestPointer();
  XTestPointer(const XTestPointer&) = delete;
  XTestPointer& operator=(const XTestPointer&) = delete;

  bool connected() const { return display_ != nullptr; }
  void moveTo(int x, int y);  // root coordinates
  void press(unsigned button = 1);
  void release(unsigned button = 1);
  // Moves from where it is to (x, y) in `steps` equal steps, as a hand would.
  void glideTo(int x, int y, int steps);
  void sync();

 private:
  Display* display_ = nullptr;
  int x_ = 0, y_ = 0;
};

}  // namespace e2e
