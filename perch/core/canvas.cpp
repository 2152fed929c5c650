#include "canvas.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace perch {
namespace {

// How far along its tangents a cubic quarter-ellipse puts its control points: 4/3 (sqrt 2 - 1).
constexpr double kappa = 0.5522847498307936;

// The parameters in (0, 1) where one coordinate of a cubic has an extreme.
template <typename Add>
void cubicExtremes(double p0, double p1, double p2, double p3, Add add) {
  // The derivative is a quadratic a t^2 + b t + c (divided by 3).
  const double a = p3 - 3 * p2 + 3 * p1 - p0;
  const double b = 2 * (p2 - 2 * p1 + p0);
  const double c = p1 - p0;
  auto keep = [&](double t) {
    if (t > 0 && t < 1) add(t);
  };
  if (std::abs(a) < 1e-12) {
    if (std::abs(b) > 1e-12) keep(-c / b);
    return;
  }
  const double disc = b * b - 4 * a * c;
  if (disc < 0) return;
  const double root = std::sqrt(disc);
  keep((-b + root) / (2 * a));
  keep((-b - root) / (2 * a));
}

double cubicAt(double p0, double p1, double p2, double p3, double t) {
  const double u = 1 - t;
  return u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3;
}

}  // namespace

Path Path::rect(const Rect& rect) {
  Path path;
  path.addRect(rect);
  return path;
}

Path Path::oval(const Rect& rect) {
  Path path;
  path.addOval(rect);
  return path;
}

Path Path::roundedRect(const Rect& rect, double xRadius, double yRadius) {
  Path path;
  path.addRoundedRect(rect, xRadius, yRadius);
  return path;
}

void Path::moveTo(Point point) {
  elements_.push_back({Verb::moveTo, {point, {}, {}}});
  current_ = subpathStart_ = point;
}

void Path::lineTo(Point point) {
  if (elements_.empty()) return moveTo(point);
  elements_.push_back({Verb::lineTo, {point, {}, {}}});
  current_ = point;
}

void Path::quadTo(Point control, Point end) {
  if (elements_.empty()) moveTo(current_);
  const Point c1{current_.x + 2.0 / 3 * (control.x - current_.x),
                 current_.y + 2.0 / 3 * (control.y - current_.y)};
  const Point c2{end.x + 2.0 / 3 * (control.x - end.x), end.y + 2.0 / 3 * (control.y - end.y)};
  curveTo(c1, c2, end);
}

void Path::curveTo(Point control1, Point control2, Point end) {
  if (elements_.empty()) moveTo(current_);
  elements_.push_back({Verb::curveTo, {control1, control2, end}});
  current_ = end;
}

void Path::close() {
  if (elements_.empty()) return;
  elements_.push_back({Verb::close, {}});
  current_ = subpathStart_;
}

void Path::addRect(const Rect& r) {
  elements_.reserve(elements_.size() + 5);
  moveTo({r.minX(), r.minY()});
  lineTo({r.maxX(), r.minY()});
  lineTo({r.maxX(), r.maxY()});
  lineTo({r.minX(), r.maxY()});
  close();
}

void Path::addOval(const Rect& r) {
  const double cx = r.midX(), cy = r.midY();
  const double rx = r.width * 0.5, ry = r.height * 0.5;
  const double kx = rx * kappa, ky = ry * kappa;
  elements_.reserve(elements_.size() + 6);
  moveTo({cx + rx, cy});
  curveTo({cx + rx, cy + ky}, {cx + kx, cy + ry}, {cx, cy + ry});
  curveTo({cx - kx, cy + ry}, {cx - rx, cy + ky}, {cx - rx, cy});
  curveTo({cx - rx, cy - ky}, {cx - kx, cy - ry}, {cx, cy - ry});
  curveTo({cx + kx, cy - ry}, {cx + rx, cy - ky}, {cx + rx, cy});
  close();
}

void Path::addRoundedRect(const Rect& r, double xRadius, double yRadius) {
  const double rx = std::clamp(xRadius, 0.0, std::max(0.0, r.width * 0.5));
  const double ry = std::clamp(yRadius, 0.0, std::max(0.0, r.height * 0.5));
  if (rx <= 0 || ry <= 0) return addRect(r);
  const double kx = rx * (1 - kappa), ky = ry * (1 - kappa);
  elements_.reserve(elements_.size() + 10);
  moveTo({r.minX() + rx, r.minY()});
  lineTo({r.maxX() - rx, r.minY()});
  curveTo({r.maxX() - kx, r.minY()}, {r.maxX(), r.minY() + ky}, {r.maxX(), r.minY() + ry});
  lineTo({r.maxX(), r.maxY() - ry});
  curveTo({r.maxX(), r.maxY() - ky}, {r.maxX() - kx, r.maxY()}, {r.maxX() - rx, r.maxY()});
  lineTo({r.minX() + rx, r.maxY()});
  curveTo({r.minX() + kx, r.maxY()}, {r.minX(), r.maxY() - ky}, {r.minX(), r.maxY() - ry});
  lineTo({r.minX(), r.minY() + ry});
  curveTo({r.minX(), r.minY() + ky}, {r.minX() + kx, r.minY()}, {r.minX() + rx, r.minY()});
  close();
}

Rect Path::bounds() const {
  if (elements_.empty()) return {};
  double x0 = elements_.front().points[0].x, x1 = x0;
  double y0 = elements_.front().points[0].y, y1 = y0;
  auto add = [&](Point p) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  };
  Point current, start;
  for (const Element& e : elements_) {
    switch (e.verb) {
      case Verb::moveTo:
        add(e.points[0]);
        current = start = e.points[0];
        break;
      case Verb::lineTo:
        add(e.points[0]);
        current = e.points[0];
        break;
      case Verb::curveTo: {
        const Point p0 = current, p1 = e.points[0], p2 = e.points[1], p3 = e.points[2];
        add(p3);
        for (bool horizontal : {true, false}) {
          auto coordinate = [&](Point p) { return horizontal ? p.x : p.y; };
          cubicExtremes(
              coordinate(p0), coordinate(p1), coordinate(p2), coordinate(p3), [&](double t) {
                add({cubicAt(p0.x, p1.x, p2.x, p3.x, t), cubicAt(p0.y, p1.y, p2.y, p3.y, t)});
              });
        }
        current = p3;
        break;
      }
      case Verb::close:
        current = start;
        break;
    }
  }
  return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace perch
