// Between X's root coordinates (origin top-left of the root window, y down, whole pixels) and the
// mascot's screen space (origin at the primary monitor's bottom-left, y up, in points of `scale`
// pixels each). No X header.
#pragma once

#include <algorithm>
#include <cmath>
#include <optional>
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
  // `primary` is the primary monitor's rectangle in root coordinates; `scale` is the pixels a
  // point takes.
  explicit ScreenSpace(const Rect& primary, double scale = 1)
      : bottom_(primary.y + primary.height), left_(primary.x), scale_(scale) {}

  double scale() const { return scale_; }
  Rect fromRoot(const Rect& r) const {
    return {(r.x - left_) / scale_, (bottom_ - (r.y + r.height)) / scale_, r.width / scale_,
            r.height / scale_};
  }
  Point fromRoot(Point p) const { return {(p.x - left_) / scale_, (bottom_ - p.y) / scale_}; }
  Rect toRoot(const Rect& r) const {
    return {r.x * scale_ + left_, bottom_ - (r.y + r.height) * scale_, r.width * scale_,
            r.height * scale_};
  }

  // The view point (points, y up from the panel's bottom) at the centre of the window's pixel
  // (x, y) (y down), for a window showing `part` at `scale`.
  static Point viewPoint(int x, int y, const ShownPart& part, double scale) {
    return {(x + part.offsetX + 0.5) / scale,
            (part.panelHeight - (y + part.offsetY + 0.5)) / scale};
  }

  // The window's pixels whose centres `area` (view points) holds, half-open as rectangles are (the
  // far edges are outside), within the window: the panel may reach far beyond it. Empty when none.
  static PixelRect pixelsHolding(const Rect& area, const ShownPart& part, double scale) {
    const double x0 = std::max(0.0, std::ceil(area.minX() * scale - 0.5) - part.offsetX);
    const double x1 =
        std::min(double(part.window.width), std::ceil(area.maxX() * scale - 0.5) - part.offsetX);
    const double y0 =
        std::max(0.0, std::floor(part.panelHeight - area.maxY() * scale - 0.5) + 1 - part.offsetY);
    const double y1 =
        std::min(double(part.window.height),
                 std::floor(part.panelHeight - area.minY() * scale - 0.5) + 1 - part.offsetY);
    if (!(x0 < x1 && y0 < y1)) return {};
    return {int(x0), int(y0), int(x1 - x0), int(y1 - y0)};
  }

  // The part of a panel (`root`, root coordinates) that X is asked to show: its whole pixels that
  // lie within `bounds`, the screens' bounding box. Whatever the panel's numbers, the window fits
  // X's 16-bit positions and sizes and what is drawn for it is never larger than the screens; a
  // panel wholly off the screens gets one pixel just beyond their top-left corner, off them too.
  // A `margin` widens the window by that many transparent pixels on each side of the panel (still
  // within the screens); the offsets then go negative.
  static ShownPart shownPart(const Rect& root, const XRect& bounds, int margin = 0) {
    // In doubles until clipped: the panel's own numbers may be far beyond any integer type.
    const double x0 = std::round(root.x), y0 = std::round(root.y);
    const double w = std::max(1.0, std::round(root.width));
    const double h = std::max(1.0, std::round(root.height));
    const double bx = bounds.x, by = bounds.y;
    const double left = std::max(x0 - margin, bx);
    const double right = std::min(x0 + w + margin, bx + bounds.width);
    const double top = std::max(y0 - margin, by);
    const double bottom = std::min(y0 + h + margin, by + bounds.height);
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

  // The panel (`root`) drawn in a window that stays at `window`, if the panel lies wholly within
  // it.
  static std::optional<ShownPart> partWithin(const Rect& root, const XRect& window) {
    const double x0 = std::round(root.x), y0 = std::round(root.y);
    const double w = std::max(1.0, std::round(root.width));
    const double h = std::max(1.0, std::round(root.height));
    if (x0 < window.x || y0 < window.y || x0 + w > double(window.x) + window.width ||
        y0 + h > double(window.y) + window.height) {
      return std::nullopt;
    }
    return ShownPart{window, window.x - x0, window.y - y0, h};
  }

 private:
  double bottom_ = 0, left_ = 0;
  double scale_ = 1;
};

}  // namespace perch
