// Anti-aliased coverage of the canvas's paths, in device pixels (y down, the surface's rows), by
// FreeType's outline rasteriser: the area of each pixel that a polygon covers, at 1/64 of a
// pixel. Curves are cut here into lines no further than a hundredth of a pixel from the curve
// before FreeType sees them, so a circle keeps its true size and coverage; strokes are outlined by
// FreeType's stroker (butt caps, miter joins up to a limit of 10, as cairo draws them), or offset
// here where the curve is smooth. A circle under a plain scale, the common case, is not flattened
// at all: each pixel's coverage is worked out from its distance to the centre. The buffers are kept
// from shape to shape, so a frame of shapes allocates nothing once warm.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "canvas.h"

namespace perch {

class PathRaster {
 public:
  // View (or user) coordinates to device pixels: x' = xx x + xy y + x0, y' = yx x + yy y + y0.
  struct Transform {
    double xx = 1, yx = 0, xy = 0, yy = 1, x0 = 0, y0 = 0;
  };
  // Device pixels [x0, x1) x [y0, y1).
  struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  };
  // How much of each pixel of a rectangle of device pixels the shape covers, 0 to 255, one byte
  // per pixel, rows `stride` bytes apart; valid until the next shape. No pixels: nothing shows.
  struct Coverage {
    const std::uint8_t* data = nullptr;
    int x = 0, y = 0, width = 0, height = 0, stride = 0;
  };

  PathRaster();
  ~PathRaster();
  PathRaster(const PathRaster&) = delete;
  PathRaster& operator=(const PathRaster&) = delete;

  // The inside of the path (non-zero rule), within `clip`. False when the rasteriser cannot take
  // the shape (too many points, or coordinates past a million pixels where they reach the clip):
  // the caller then draws it some other way.
  bool fill(const Path& path, const Transform& transform, const Box& clip, Coverage& coverage);
  // The band `width` device pixels wide along the path, as above.
  bool stroke(const Path& path, const Transform& transform, double width, const Box& clip,
              Coverage& coverage);

  // The centre (`cx`, `cy`) and radius in device pixels of the circle the path traces, when it is
  // one oval of equal sides (as Path::oval builds it) and the transform keeps circles round.
  static bool deviceCircle(const Path& path, const Transform& transform, double& cx, double& cy,
                           double& radius);
  // The columns [`x0`, `x1`) of device row `y` whose pixels lie wholly inside the circle, with
  // half a pixel to spare; `x0` == `x1` when there are none.
  static void columnsInside(double cx, double cy, double radius, int y, int& x0, int& x1);
  // Takes every pixel wholly inside the circle out of the last shape's coverage.
  void clearInside(Coverage& coverage, double cx, double cy, double radius);

 private:
  struct Point {
    double x, y;
  };
  // Flattens the path into contours of device points; false when it lies wholly outside `clip`
  // (`outside` is then set) or cannot be taken.
  bool flatten(const Path& path, const Transform& transform, double margin, const Box& clip,
               bool& outside);
  // Covers the device pixels of the points' bounds (grown by `margin`) within `clip`.
  bool render(double margin, const Box& clip, Coverage& coverage);
  // Appends the band `halfWidth` either side of the closed contour [first, end) as two contours
  // for FreeType; false, appending nothing, unless every turn is gentle.
  bool offsetSmoothContour(int first, int end, double halfWidth);
  // Covers the disc of radius `outer` about `centre`, less the one of radius `inner` (none when
  // `inner` is not positive), within `clip`.
  void coverRing(Point centre, double inner, double outer, const Box& clip, Coverage& coverage);

  struct FreeType;
  FreeType& freeType();  // made at first use
  std::unique_ptr<FreeType> freeType_;
  std::vector<Point> points_;        // every contour's points, one after another
  std::vector<int> contourEnds_;     // one past each contour's last point
  std::vector<bool> contourClosed_;  // whether each contour was closed
  std::vector<Point> offset_;        // per point of a smooth contour: its miter offset
  std::vector<std::uint8_t> mask_;   // the last shape's coverage
  // A circle's pixels on its edges: runs of them along rows (the first one's place in the mask,
  // how many, the first one's offset from the centre), then each one's offset, place and coverage.
  struct EdgeRun {
    std::uint32_t place;
    int count;
    float dx, dy;
  };
  std::vector<EdgeRun> edgeRuns_;
  std::vector<float> edgeX_, edgeY_;
  std::vector<std::uint32_t> edgeAt_;
  std::vector<std::uint8_t> edgeValue_;
  std::vector<std::pair<int, int>> mirroredRows_;  // rows copied from the ones above: from, to
};

}  // namespace perch
