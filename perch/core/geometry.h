// Points, sizes and rectangles in points. The screen space has its origin at the primary screen's
// bottom-left corner with y growing upwards; a view's space has its origin at its bottom-left.
#pragma once

#include <algorithm>

namespace perch {

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

// Whole pixels of a picture, y down as its rows.
struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelRect&) const = default;
};

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  double midX() const { return x + width * 0.5; }
  double midY() const { return y + height * 0.5; }
  bool isEmpty() const { return width <= 0 || height <= 0; }

  Rect insetBy(double dx, double dy) const {
    return {x + dx, y + dy, width - 2 * dx, height - 2 * dy};
  }
  // The common part; an empty rectangle at the origin when there is none.
  Rect intersection(const Rect& o) const {
    double x0 = std::max(minX(), o.minX()), y0 = std::max(minY(), o.minY());
    double x1 = std::min(maxX(), o.maxX()), y1 = std::min(maxY(), o.maxY());
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
  }
  // The smallest rectangle holding both.
  Rect united(const Rect& o) const {
    const double x0 = std::min(minX(), o.minX()), y0 = std::min(minY(), o.minY());
    return {x0, y0, std::max(maxX(), o.maxX()) - x0, std::max(maxY(), o.maxY()) - y0};
  }
  // Half-open, as AppKit's CGRectContainsPoint: the far edges are outside.
  bool contains(Point p) const {
    return !isEmpty() && p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  bool operator==(const Rect&) const = default;
};

}  // namespace perch
