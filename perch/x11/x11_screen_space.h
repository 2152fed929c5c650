// Between X's root coordinates (origin top-left of the root window, y down, whole pixels) and the
// mascot's screen space (origin at the primary monitor's bottom-left, y up). No X header.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry.h"

namespace perch {

struct XRect {
  int x = 0, y = 0;
  unsigned width = 1, height = 1;
  bool operator==(const XRect&) const = default;
};

// What of a panel the window shows: the window's geometry, and where its top-left pixel lies in
// the whole panel (pixels right of and below the panel's top-left corner).
struct ShownPart {
  XRect window;
  double offsetX = 0, offsetY = 0;
  double panelHeight = 1;  // the whole panel's, in pixels
  bool operator==(const ShownPart&) const = default;
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

  // The part of a panel (`root`, root coordinates) that X is asked to show: its whole pixels that
  // lie within `bounds`, the screens' bounding box. Whatever the panel's numbers, the window fits
  // X's 16-bit positions and sizes and what is drawn for it is never larger than the screens; a
  // panel wholly off the screens gets one pixel just beyond their top-left corner, off them too.
  static ShownPart shownPart(const Rect& root, const XRect& bounds) {
    // In doubles until clipped: the panel's own numbers may be far beyond any integer type.
    const double x0 = std::round(root.x), y0 = std::round(root.y);
    const double w = std::max(1.0, std::round(root.width));
    const double h = std::max(1.0, std::round(root.height));
    const double bx = bounds.x, by = bounds.y;
    const double left = std::max(x0, bx), right = std::min(x0 + w, bx + bounds.width);
    const double top = std::max(y0, by), bottom = std::min(y0 + h, by + bounds.height);
    ShownPart part;
    part.panelHeight = h;
    if (!(left < right && top < bottom)) {
      part.window = {bounds.x - 1, bounds.y - 1, 1, 1};
      return part;
    }
    part.window = {static_cast<int>(left), static_cast<int>(top),
                   static_cast<unsigned>(right - left), static_cast<unsigned>(bottom - top)};
    part.offsetX = left - x0;
    part.offsetY = top - y0;
    return part;
  }

 private:
  double bottom_ = 0, left_ = 0;
};

}  // namespace perch
