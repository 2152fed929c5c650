// The panel's picture as the window shows it, drawn frame after frame into the same pixels: the
// view drawn through the cairo canvas, flattened where the window has no alpha, and the pixels it
// paints, which the window's shapes follow. When only part of the view changed since the last
// frame (the glows and rings of a feedback), only that part is drawn, and the rest is kept, with
// its painted pixels, from the frames before; within the part, only the pixels the last frame drew
// on are cleared, and only those the new one draws on are flattened and scanned. No X header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "canvas.h"
#include "geometry.h"
#include "painted_region.h"
#include "panel_drawing.h"
#include "path_raster.h"

namespace perch {

class FrameComposer {
 public:
  using Draw = std::function<void(Canvas&)>;

  // Draws the next frame into `pixels` with `draw` (the view's coordinates, y up) and returns the
  // pixels it changed: an empty rectangle when `changed` lies outside the picture, nothing when
  // the picture could not be drawn. `changed` (view coordinates) holds everything that differs
  // from the last frame, or is nothing when anything may; a part is redrawn only when `pixels`
  // still hold the last frame composed here, with the same layout.
  std::optional<PixelRect> compose(const FramePixels& pixels, const FrameLayout& layout,
                                   std::optional<Rect> changed, const Draw& draw);

  // The pixels the window keeps of the last frame: at least half covered when shaped, painted at
  // all otherwise.
  const std::vector<PixelRect>& painted() const { return painted_; }

  // The pixels no longer hold the last frame: the next one is drawn whole.
  void forget() { holdsLast_ = false; }

  // The picture's pixels that `area` (view coordinates) touches, cut to the picture.
  static PixelRect pixelsOf(const Rect& area, const FrameLayout& layout, int width, int height);

 private:
  std::unique_ptr<PathRaster> raster_;  // made at the first frame, kept from frame to frame
  FramePixels last_;
  FrameLayout lastLayout_;
  bool holdsLast_ = false;
  std::vector<PixelRect> painted_;
  // The painted pixels around `kept_` (all the picture but it), valid while only `kept_` is
  // redrawn.
  PixelRect kept_;
  std::vector<PixelRect> paintedAround_;
  // The pixels of the last frame's target it drew on: the rest of that target is clear. Not
  // known when something was drawn some way the canvas cannot tell.
  PixelRect lastTarget_;
  PixelRect drawn_;
  bool drawnKnown_ = false;
};

}  // namespace perch
