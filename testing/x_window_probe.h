// Looks at an X server from outside, as a user would: which windows are shown where, what colour
// a pixel of the screen has, and what the screen looks like as a PNG.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

typedef struct _XDisplay Display;

namespace e2e {

struct WindowGeometry {
  int x = 0, y = 0;  // root coordinates of the top-left corner
  unsigned width = 0, height = 0;
  bool viewable = false;
  bool overrideRedirect = false;
  bool operator==(const WindowGeometry&) const = default;
};

struct Pixel {
  int red = 0, green = 0, blue = 0;
};

// The pointer's current cursor as the server shows it.
struct CursorImage {
  unsigned width = 0, height = 0, xhot = 0, yhot = 0;
  std::vector<unsigned long> pixels;
  bool operator==(const CursorImage&) const = default;
};

class XWindowProbe {
 public:
  explicit XWindowProbe(const std::string& display);
  ~XWindowProbe();
  XWindowProbe(const XWindowProbe&) = delete;
  XWindowProbe& operator=(const XWindowProbe&) = delete;

  Display* display() const { return display_; }
  // The top-level window whose WM_CLASS class is `windowClass`.
  std::optional<unsigned long> findWindow(const std::string& windowClass);
  std::optional<WindowGeometry> geometry(unsigned long window);
  // Waits (up to `timeoutMs`) until the window of that class has a geometry `wanted` accepts, and
  // returns it; nothing at the deadline.
  template <typename Predicate>
  std::optional<WindowGeometry> waitFor(const std::string& windowClass, Predicate wanted,
                                        int timeoutMs = 5000);
  // The colour of one pixel of the root window, as the screen shows it.
  Pixel rootPixel(int x, int y);
  // Waits (up to `timeoutMs`) until that pixel's colour is one `wanted` accepts; the last seen.
  template <typename Predicate>
  Pixel waitForPixel(int x, int y, Predicate wanted, int timeoutMs = 5000);
  bool saveScreenshot(const std::string& pngPath);
  CursorImage cursorImage();
  // The window of that class as it is now.
  std::optional<WindowGeometry> poll(const std::string& windowClass);
  // The rectangles of the window's bounding shape (one covering it all when it is not shaped).
  std::vector<WindowGeometry> boundingShape(unsigned long window);
  // Whether a compositing manager owns the screen's _NET_WM_CM_Sn selection.
  bool compositorRunning();
  // Waits up to `timeoutMs` for a compositing manager to own it; whether one does.
  bool waitForCompositor(int timeoutMs = 5000);
  // Sets the root window's background colour (0xRRGGBB) and repaints it.
  void setRootColor(unsigned long rgb);

 private:
  void pause();
  Display* display_ = nullptr;
};

template <typename Predicate>
std::optional<WindowGeometry> XWindowProbe::waitFor(const std::string& windowClass,
                                                    Predicate wanted, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    auto geometry = poll(windowClass);
    if (geometry && wanted(*geometry)) return geometry;
    pause();
  }
  return std::nullopt;
}

template <typename Predicate>
Pixel XWindowProbe::waitForPixel(int x, int y, Predicate wanted, int timeoutMs) {
  Pixel last;
  for (int waited = 0; waited <= timeoutMs; waited += 10) {
    last = rootPixel(x, y);
    if (wanted(last)) return last;
    pause();
  }
  return last;
}

}  // namespace e2e
