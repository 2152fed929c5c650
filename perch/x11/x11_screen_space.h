// Between X's root coordinates (origin top-left of the root window, y down, whole pixels) and the
// mascot's screen space (origin at the primary monitor's bottom-left, y up). No X header.
#pragma once

#include <cmath>
#include <vector>

#include "geometry.h"

namespace perch {

struct XRect {
  int x = 0, y = 0;
  unsigned width = 1, height = 1;
  bool operator==(const XRect&) const = default;
};

class ScreenSpace {
 public:
  ScreenSpace() = default;
  // `primary` is the primary monitor's rectangle in root coordinates.
  explicit ScreenSpace(const Rect& primary)
      : bottom_(primary.y + primary.height), left_(primary.x) {}

  Rect fromRoot(const Rect& r) const {
    return {r.x - left_, bottom_ - (r.y + r.height), r.width, r.height};
  }
  Point fromRoot(Point p) const { return {p.x - left_, bottom_ - p.y}; }
  Rect toRoot(const Rect& r) const {
    return {r.x + left_, bottom_ - (r.y + r.height), r.width, r.height};
  }

  // The window geometry X can take: whole pixels, at least 1 x 1.
  static XRect toPixels(const Rect& root) {
    auto side = [](double v) { return static_cast<unsigned>(std::max(1.0, std::round(v))); };
    return {static_cast<int>(std::lround(root.x)), static_cast<int>(std::lround(root.y)),
            side(root.width), side(root.height)};
  }

 private:
  double bottom_ = 0, left_ = 0;
};

}  // namespace perch
