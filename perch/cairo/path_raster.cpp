#include "path_raster.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_STROKER_H

#include <algorithm>
#include <cmath>
#include <limits>

namespace perch {
namespace {

// How far a line of a flattened curve may stray from the curve, in device pixels: about 1/100
// of a pixel keeps every pixel's coverage within a step of 1/255 of the true curve's.
constexpr double flatness = 0.01;
// Beyond this many pixels from the origin the 26.6 coordinates would lose their precision.
constexpr double farthest = 1 << 20;
// cairo's default: a miter longer than 10 line widths becomes a bevel.
constexpr FT_Fixed miterLimit = 10 << 16;

// Circles at least this many pixels across their inner edge are covered from distances: the edge
// bends from a straight line across one pixel by less than 1/100 of a pixel's area there.
constexpr double smallestDistanceRadius = 8;
// How far a pixel's square reaches from its centre: half its diagonal, rounded up.
constexpr double halfDiagonal = 0.70711;
// How far an oval's points may be from where they would lie on an oval of equal sides, relative to
// its size, for it to count as a circle.
constexpr double circleTolerance = 1e-9;

// How much of a pixel lies on the near side of a straight edge that passes `s` pixels from its
// centre (positive: the centre is covered), the edge's normal having components `a` >= `b` >= 0
// along the axes. Along the normal the pixel's area spreads as a trapezoid (boxes `a` and `b`
// wide, convolved), whose running total is four ramps squared. Without branches, so that runs of
// pixels go four at a time.
inline float edgeCoverage(float s, float a, float b) {
  const float half = 0.5f * (a + b), inner = 0.5f * (a - b);
  auto ramp = [](float x) {
    const float r = std::max(x, 0.0f);
    return r * r;
  };
  const float total = ramp(s + half) - ramp(s + inner) - ramp(s - inner) + ramp(s - half);
  return total * (0.5f / (a * b));
}

FT_Pos toFixed(double v) { return static_cast<FT_Pos>(std::lrint(v * 64)); }

// Writes FreeType's spans into a coverage mask.
struct MaskWriter {
  std::uint8_t* data;
  int x, y, stride;
  static void spans(int y, int count, const FT_Span* spans, void* user) {
    auto* mask = static_cast<MaskWriter*>(user);
    std::uint8_t* row = mask->data + static_cast<std::ptrdiff_t>(y - mask->y) * mask->stride;
    for (int i = 0; i < count; ++i) {
      std::fill_n(row + (spans[i].x - mask->x), spans[i].len, spans[i].coverage);
    }
  }
};

}  // namespace

struct PathRaster::FreeType {
  FT_Library library = nullptr;
  FT_Stroker stroker = nullptr;
  std::vector<FT_Vector> points;
  std::vector<char> tags;
  std::vector<short> contours;

  FreeType() {
    if (FT_Init_FreeType(&library) != 0) library = nullptr;
    if (library != nullptr && FT_Stroker_New(library, &stroker) != 0) stroker = nullptr;
  }
  ~FreeType() {
    if (stroker != nullptr) FT_Stroker_Done(stroker);
    if (library != nullptr) FT_Done_FreeType(library);
  }
  FT_Outline outline() {
    FT_Outline o{};
    o.n_points = static_cast<decltype(o.n_points)>(points.size());
    o.n_contours = static_cast<decltype(o.n_contours)>(contours.size());
    o.points = points.data();
    o.tags = tags.data();
    o.contours = contours.data();
    o.flags = FT_OUTLINE_NONE;
    return o;
  }
};

PathRaster::PathRaster() = default;

PathRaster::FreeType& PathRaster::freeType() {
  // Only shapes other than large circles need FreeType: a picture of circles never loads it.
  if (freeType_ == nullptr) freeType_ = std::make_unique<FreeType>();
  return *freeType_;
}

PathRaster::~PathRaster() = default;

bool PathRaster::flatten(const Path& path, const Transform& m, double margin, const Box& clip,
                         bool& outside) {
  outside = false;
  auto device = [&m](perch::Point p) -> Point {
    return {m.xx * p.x + m.xy * p.y + m.x0, m.yx * p.x + m.yy * p.y + m.y0};
  };
  // A curve lies within its control points: their bounds say whether anything can show.
  double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
  for (const Path::Element& e : path.elements()) {
    const int count = e.verb == Path::Verb::curveTo ? 3 : e.verb == Path::Verb::close ? 0 : 1;
    for (int i = 0; i < count; ++i) {
      const Point p = device(e.points[i]);
      x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
      y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    }
  }
  if (!(x0 - margin < clip.x1 && x1 + margin > clip.x0 && y0 - margin < clip.y1 &&
        y1 + margin > clip.y0)) {
    outside = true;  // also when nothing is finite
    return false;
  }
  if (!(std::max({-x0, x1, -y0, y1}) + margin < farthest)) return false;

  points_.clear();
  contourEnds_.clear();
  contourClosed_.clear();
  size_t contourStart = 0;
  Point current{0, 0}, start{0, 0};
  auto endContour = [&](bool closed) {
    if (points_.size() > contourStart) {
      contourEnds_.push_back(static_cast<int>(points_.size()));
      contourClosed_.push_back(closed);
    }
    contourStart = points_.size();
  };
  auto beginIfNeeded = [&] {
    if (points_.size() == contourStart) points_.push_back(current);
  };
  for (const Path::Element& e : path.elements()) {
    switch (e.verb) {
      case Path::Verb::moveTo:
        endContour(false);
        current = start = device(e.points[0]);
        points_.push_back(current);
        break;
      case Path::Verb::lineTo:
        beginIfNeeded();
        current = device(e.points[0]);
        points_.push_back(current);
        break;
      case Path::Verb::curveTo: {
        beginIfNeeded();
        const Point p0 = current, p1 = device(e.points[0]), p2 = device(e.points[1]),
                    p3 = device(e.points[2]);
        // The second differences bound how far n equal steps stray: 3/4 of the larger over n^2.
        auto length = [](double x, double y) { return std::sqrt(x * x + y * y); };
        const double dd = std::max(length(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                                   length(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
        const int steps =
            std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * dd / flatness))), 1, 4096);
        for (int i = 1; i < steps; ++i) {
          const double t = double(i) / steps, u = 1 - t;
          const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
          points_.push_back({a * p0.x + b * p1.x + c * p2.x + d * p3.x,
                             a * p0.y + b * p1.y + c * p2.y + d * p3.y});
        }
        current = p3;
        points_.push_back(current);
        break;
      }
      case Path::Verb::close:
        endContour(true);
        current = start;
        break;
    }
  }
  endContour(false);
  // FreeType counts points and contours in shorts.
  return points_.size() < 30000 && !contourEnds_.empty();
}

bool PathRaster::render(double margin, const Box& clip, Coverage& coverage) {
  coverage = {};
  double x0 = std::numeric_limits<double>::infinity(), y0 = x0, x1 = -x0, y1 = -x0;
  for (const Point& p : points_) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  const Box box{std::max(clip.x0, static_cast<int>(std::floor(x0 - margin))),
                std::max(clip.y0, static_cast<int>(std::floor(y0 - margin))),
                std::min(clip.x1, static_cast<int>(std::ceil(x1 + margin))),
                std::min(clip.y1, static_cast<int>(std::ceil(y1 + margin)))};
  if (box.x0 >= box.x1 || box.y0 >= box.y1) return true;
  const int width = box.x1 - box.x0, height = box.y1 - box.y0;
  const int stride = (width + 3) & ~3;
  mask_.assign(static_cast<size_t>(stride) * height, 0);
  MaskWriter writer{mask_.data(), box.x0, box.y0, stride};

  FT_Outline outline = freeType_->outline();  // made by fill() or stroke() before
  FT_Raster_Params params{};
  params.source = &outline;
  params.flags = FT_RASTER_FLAG_AA | FT_RASTER_FLAG_DIRECT | FT_RASTER_FLAG_CLIP;
  params.gray_spans = &MaskWriter::spans;
  params.user = &writer;
  params.clip_box = {box.x0, box.y0, box.x1, box.y1};
  FT_Outline_Render(freeType_->library, &outline, &params);
  coverage = {mask_.data(), box.x0, box.y0, width, height, stride};
  return true;
}

bool PathRaster::deviceCircle(const Path& path, const Transform& m, double& centreX,
                              double& centreY, double& radius) {
  if (m.xy != 0 || m.yx != 0 || std::abs(m.xx) != std::abs(m.yy)) return false;
  const auto& e = path.elements();
  if (e.size() != 6 || e[0].verb != Path::Verb::moveTo || e[5].verb != Path::Verb::close)
    return false;
  for (int i = 1; i <= 4; ++i) {
    if (e[i].verb != Path::Verb::curveTo) return false;
  }
  // An oval starts at its right end and goes round through its top, left and bottom.
  const double cx = e[1].points[2].x, cy = e[0].points[0].y;
  const double r = e[0].points[0].x - cx;
  if (!(r > 0) || !std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(r)) return false;
  const Path expected = Path::oval({cx - r, cy - r, 2 * r, 2 * r});
  const double tolerance = r * circleTolerance;
  for (size_t i = 0; i < e.size(); ++i) {
    const int count = e[i].verb == Path::Verb::curveTo ? 3 : e[i].verb == Path::Verb::close ? 0 : 1;
    for (int k = 0; k < count; ++k) {
      const perch::Point p = e[i].points[k], q = expected.elements()[i].points[k];
      if (!(std::abs(p.x - q.x) <= tolerance && std::abs(p.y - q.y) <= tolerance)) return false;
    }
  }
  centreX = m.xx * cx + m.x0;
  centreY = m.yy * cy + m.y0;
  radius = r * std::abs(m.xx);
  return std::max({std::abs(centreX), std::abs(centreY), radius}) < farthest;
}

void PathRaster::columnsInside(double cx, double cy, double radius, int y, int& x0, int& x1) {
  x0 = x1 = 0;
  // A pixel lies wholly inside when its centre is half its diagonal inside; half a pixel more
  // is spare.
  const double inner = radius - halfDiagonal - 0.5, dy = y + 0.5 - cy;
  const double squared = inner * inner - dy * dy;
  if (!(inner > 0) || !(squared > 0)) return;
  const double half = std::sqrt(squared);
  x0 = static_cast<int>(std::ceil(cx - half - 0.5));
  x1 = std::max(x0, static_cast<int>(std::floor(cx + half - 0.5)) + 1);
}

void PathRaster::clearInside(Coverage& coverage, double cx, double cy, double radius) {
  if (coverage.data != mask_.data()) return;  // not this raster's last shape
  for (int j = 0; j < coverage.height; ++j) {
    int x0 = 0, x1 = 0;
    columnsInside(cx, cy, radius, coverage.y + j, x0, x1);
    x0 = std::clamp(x0 - coverage.x, 0, coverage.width);
    x1 = std::clamp(x1 - coverage.x, x0, coverage.width);
    std::fill(mask_.begin() + static_cast<std::ptrdiff_t>(j) * coverage.stride + x0,
              mask_.begin() + static_cast<std::ptrdiff_t>(j) * coverage.stride + x1, 0);
  }
}

void PathRaster::coverRing(Point c, double inner, double outer, const Box& clip,
                           Coverage& coverage) {
  coverage = {};
  const double reach = outer + 1;
  const Box box{std::max(clip.x0, static_cast<int>(std::floor(c.x - reach))),
                std::max(clip.y0, static_cast<int>(std::floor(c.y - reach))),
                std::min(clip.x1, static_cast<int>(std::ceil(c.x + reach))),
                std::min(clip.y1, static_cast<int>(std::ceil(c.y + reach)))};
  if (box.x0 >= box.x1 || box.y0 >= box.y1) return;
  const int width = box.x1 - box.x0, height = box.y1 - box.y0;
  const int stride = (width + 3) & ~3;
  mask_.assign(static_cast<size_t>(stride) * height, 0);
  // Pixel columns (offsets into the row) whose centres lie within `radius` of the centre, on the
  // row `dy` from it: [first, last), empty when none do.
  auto within = [&](double radius, double dy, int& first, int& last) {
    const double squared = radius * radius - dy * dy;
    first = last = 0;
    if (!(radius > 0) || !(squared > 0)) return;
    const double half = std::sqrt(squared);
    // Whole pixels from the box's left edge; both ends are within a pixel of the box.
    const double left = c.x - half - 0.5 - box.x0, right = c.x + half - 0.5 - box.x0;
    const int up = static_cast<int>(left) + (left > static_cast<int>(left) ? 1 : 0);
    const int down = static_cast<int>(right) - (right < static_cast<int>(right) ? 1 : 0);
    first = std::clamp(up, 0, width);
    last = std::clamp(down + 1, first, width);
  };
  // Edge pixels are gathered over the whole shape first, as runs along the rows, then covered
  // all in one go.
  edgeRuns_.clear();
  size_t count = 0;
  auto edge = [&](int from, int to, float dy, size_t row) {
    if (from >= to) return;
    edgeRuns_.push_back({static_cast<std::uint32_t>(row + from), to - from,
                         static_cast<float>(box.x0 + from + 0.5 - c.x), dy});
    count += static_cast<size_t>(to - from);
  };
  // A row as far below a centre on the pixel grid (or halfway between) as another is above it
  // covers its pixels alike, to the bit: the offsets from the centre are whole or half pixels,
  // exact in single precision, and only their squares and sizes count. It is copied from the
  // row above rather than worked out again.
  const double twice = 2 * c.y;
  const bool mirrored = twice == std::floor(twice) && std::abs(twice) < farthest;
  const int mirrorSum = mirrored ? static_cast<int>(twice) - 1 - 2 * box.y0 : -1;
  mirroredRows_.clear();
  for (int j = 0; j < height; ++j) {
    const size_t row = static_cast<size_t>(j) * stride;
    if (const int above = mirrorSum - j; above >= 0 && above < j) {
      mirroredRows_.push_back({above, j});
      continue;
    }
    const double dy = box.y0 + j + 0.5 - c.y;
    // Pixels reached by the outer edge; of those, the ones wholly inside it, and the ones wholly
    // inside the inner edge (the hole).
    int first, last, solidFirst, solidLast, holeFirst, holeLast;
    within(outer + halfDiagonal, dy, first, last);
    if (first >= last) continue;
    within(inner - halfDiagonal, dy, holeFirst, holeLast);
    within(outer - halfDiagonal, dy, solidFirst, solidLast);
    const float dyf = static_cast<float>(dy);
    if (holeFirst < holeLast) {
      edge(first, holeFirst, dyf, row);
      edge(holeLast, last, dyf, row);
    } else if (inner <= 0 && solidFirst < solidLast) {
      edge(first, solidFirst, dyf, row);
      std::fill(mask_.begin() + row + solidFirst, mask_.begin() + row + solidLast, 255);
      edge(solidLast, last, dyf, row);
    } else {
      edge(first, last, dyf, row);
    }
  }
  const float outerRadius = static_cast<float>(outer), innerRadius = static_cast<float>(inner);
  edgeX_.resize(count);
  edgeY_.resize(count);
  edgeAt_.resize(count);
  edgeValue_.resize(count);
  // Plain pointers: the bytes written could otherwise alias the vectors themselves.
  float* xs = edgeX_.data();
  float* ys = edgeY_.data();
  std::uint32_t* places = edgeAt_.data();
  std::uint8_t* values = edgeValue_.data();
  std::uint8_t* mask = mask_.data();
  size_t at = 0;
  for (const EdgeRun& run : edgeRuns_) {
    for (int i = 0; i < run.count; ++i) {
      xs[at + i] = run.dx + static_cast<float>(i);
      ys[at + i] = run.dy;
      places[at + i] = run.place + static_cast<std::uint32_t>(i);
    }
    at += static_cast<size_t>(run.count);
  }
  for (size_t i = 0; i < count; ++i) {
    const float dx = xs[i], dy = ys[i];
    const float d = std::sqrt(dx * dx + dy * dy);
    const float scale = 1 / std::max(d, 1e-3f);
    const float ax = std::abs(dx) * scale, ay = std::abs(dy) * scale;
    // The larger component is at least 1/sqrt 2 (but for the very centre, where any will do); an
    // edge along an axis is taken as one a hair off it, which changes nothing a byte can hold.
    const float a = std::max(std::max(ax, ay), 0.7071f), b = std::max(std::min(ax, ay), 1e-3f);
    const float covered = edgeCoverage(outerRadius - d, a, b) - edgeCoverage(innerRadius - d, a, b);
    values[i] = static_cast<std::uint8_t>(std::min(std::max(covered, 0.0f), 1.0f) * 255 + 0.5f);
  }
  for (size_t i = 0; i < count; ++i) mask[places[i]] = values[i];
  for (const auto& [from, to] : mirroredRows_) {
    std::copy_n(mask + static_cast<size_t>(from) * stride, stride,
                mask + static_cast<size_t>(to) * stride);
  }
  coverage = {mask_.data(), box.x0, box.y0, width, height, stride};
}

bool PathRaster::fill(const Path& path, const Transform& transform, const Box& clip,
                      Coverage& coverage) {
  coverage = {};
  Point centre{0, 0};
  double radius = 0;
  if (deviceCircle(path, transform, centre.x, centre.y, radius) &&
      radius >= smallestDistanceRadius) {
    coverRing(centre, 0, radius, clip, coverage);
    return true;
  }
  FreeType& ft = freeType();
  if (ft.library == nullptr) return false;
  bool outside = false;
  if (!flatten(path, transform, 1, clip, outside)) return outside;
  ft.points.clear();
  ft.tags.clear();
  ft.contours.clear();
  int first = 0;
  for (int end : contourEnds_) {
    for (int i = first; i < end; ++i) {
      ft.points.push_back({toFixed(points_[i].x), toFixed(points_[i].y)});
      ft.tags.push_back(FT_CURVE_TAG_ON);
    }
    ft.contours.push_back(static_cast<short>(end - 1));
    first = end;
  }
  return render(1, clip, coverage);
}

bool PathRaster::offsetSmoothContour(int first, int end, double halfWidth) {
  // The contour's distinct points, without the return to where it began.
  int count = end - first;
  while (count > 1 && points_[first + count - 1].x == points_[first].x &&
         points_[first + count - 1].y == points_[first].y)
    --count;
  if (count < 3) return false;
  const Point* p = points_.data() + first;
  auto direction = [&](int i) {
    const Point a = p[i], b = p[(i + 1) % count];
    const double length = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y));
    return std::pair<Point, double>{{(b.x - a.x) / length, (b.y - a.y) / length}, length};
  };
  // Each corner moves along the bisector of its two sides' normals, by as much as puts both
  // sides `halfWidth` away: the miter join. Only gentle turns, and sides long enough that the
  // inner band does not fold over itself, are taken.
  offset_.resize(static_cast<size_t>(count));
  auto [before, beforeLength] = direction(count - 1);
  double beforeShortening = 0;
  double firstShortening = 0;
  for (int i = 0; i < count; ++i) {
    const auto [after, afterLength] = direction(i);
    if (!(afterLength > 0)) return false;
    const double turnCos = before.x * after.x + before.y * after.y;
    if (!(turnCos > 0.9)) return false;  // sharper than about 25 degrees
    const Point normal{-(before.y + after.y), before.x + after.x};
    const double normalLength = std::sqrt(normal.x * normal.x + normal.y * normal.y);
    const Point bisector{normal.x / normalLength, normal.y / normalLength};
    const double miter = halfWidth / (bisector.x * -after.y + bisector.y * after.x);
    offset_[i] = {bisector.x * miter, bisector.y * miter};
    // How much of each side the inner band's corner takes: halfWidth tan(turn / 2).
    const double shortening = halfWidth * std::sqrt((1 - turnCos) / (1 + turnCos));
    if (i == 0) {
      firstShortening = shortening;
    } else if (!(beforeLength > beforeShortening + shortening)) {
      return false;
    }
    beforeShortening = shortening;
    before = after;
    beforeLength = afterLength;
  }
  if (!(beforeLength > beforeShortening + firstShortening)) return false;

  FreeType& ft = *freeType_;
  for (int side : {1, -1}) {
    for (int k = 0; k < count; ++k) {
      const int i = side > 0 ? k : count - 1 - k;  // the inner border runs the other way
      ft.points.push_back(
          {toFixed(p[i].x + side * offset_[i].x), toFixed(p[i].y + side * offset_[i].y)});
      ft.tags.push_back(FT_CURVE_TAG_ON);
    }
    ft.contours.push_back(static_cast<short>(ft.points.size() - 1));
  }
  return true;
}

bool PathRaster::stroke(const Path& path, const Transform& transform, double width, const Box& clip,
                        Coverage& coverage) {
  coverage = {};
  if (!(width > 0)) return true;  // a line of no width shows nothing
  if (!std::isfinite(width)) return false;
  Point centre{0, 0};
  double radius = 0;
  if (deviceCircle(path, transform, centre.x, centre.y, radius) &&
      radius - 0.5 * width >= smallestDistanceRadius) {
    coverRing(centre, radius - 0.5 * width, radius + 0.5 * width, clip, coverage);
    return true;
  }
  FreeType& ft = freeType();
  if (ft.stroker == nullptr) return false;
  // A miter reaches at most half the limit's widths past its corner.
  bool outside = false;
  if (!flatten(path, transform, width * 5 + 1, clip, outside)) return outside;
  FT_Stroker_Set(ft.stroker, toFixed(width * 0.5), FT_STROKER_LINECAP_BUTT,
                 FT_STROKER_LINEJOIN_MITER_VARIABLE, miterLimit);
  FT_Stroker_Rewind(ft.stroker);
  ft.points.clear();
  ft.tags.clear();
  ft.contours.clear();
  int first = 0;
  for (size_t c = 0; c < contourEnds_.size(); ++c) {
    const int end = contourEnds_[c];
    const bool closed = contourClosed_[c];
    // A smooth closed curve (the common case: ovals) is offset here, exactly and at a fraction
    // of the stroker's cost; corners and open ends go to the stroker.
    if (closed && offsetSmoothContour(first, end, width * 0.5)) {
      first = end;
      continue;
    }
    FT_Vector previous{toFixed(points_[first].x), toFixed(points_[first].y)};
    const FT_Vector origin = previous;
    bool begun = false;
    for (int i = first + 1; i < end; ++i) {
      FT_Vector to{toFixed(points_[i].x), toFixed(points_[i].y)};
      // The stroker needs a direction for every segment: lines of no length are left out, and
      // so is a closed contour's final return to where it began.
      if (to.x == previous.x && to.y == previous.y) continue;
      if (closed && i == end - 1 && to.x == origin.x && to.y == origin.y) continue;
      if (!begun) {
        FT_Vector from = origin;
        FT_Stroker_BeginSubPath(ft.stroker, &from, !closed);
        begun = true;
      }
      FT_Stroker_LineTo(ft.stroker, &to);
      previous = to;
    }
    if (begun) FT_Stroker_EndSubPath(ft.stroker);
    first = end;
  }
  FT_UInt pointCount = 0, contourCount = 0;
  if (FT_Stroker_GetCounts(ft.stroker, &pointCount, &contourCount) != 0) return false;
  const size_t points = ft.points.size() + pointCount, contours = ft.contours.size() + contourCount;
  if (points >= 30000 || contours >= 30000) return false;
  if (points == 0) return true;
  // The stroker's borders go after the contours offset here.
  const size_t offsetPoints = ft.points.size(), offsetContours = ft.contours.size();
  ft.points.resize(points);
  ft.tags.resize(points);
  ft.contours.resize(contours);
  FT_Outline outline = ft.outline();
  outline.n_points = static_cast<decltype(outline.n_points)>(offsetPoints);
  outline.n_contours = static_cast<decltype(outline.n_contours)>(offsetContours);
  FT_Stroker_Export(ft.stroker, &outline);
  ft.points.resize(outline.n_points);
  ft.tags.resize(outline.n_points);
  ft.contours.resize(outline.n_contours);
  return render(width * 5 + 1, clip, coverage);
}

}  // namespace perch
