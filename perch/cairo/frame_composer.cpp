#include "frame_composer.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cairo_canvas.h"

namespace perch {
namespace {

// Without a compositor a pixel is either shown or not: the window keeps the pixels at least half
// covered. With one, every pixel that is painted at all takes clicks.
constexpr std::uint8_t kShapedMinAlpha = 128;
constexpr std::uint8_t kInputMinAlpha = 1;

bool isEmpty(const PixelRect& r) { return r.width <= 0 || r.height <= 0; }

PixelRect intersection(const PixelRect& a, const PixelRect& b) {
  const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const int x1 = std::min(a.x + a.width, b.x + b.width);
  const int y1 = std::min(a.y + a.height, b.y + b.height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

// The painted pixels of the picture but `hole`: the bands above and below it, and the parts of
// its rows left and right of it.
std::vector<PixelRect> paintedAround(const FramePixels& p, const PixelRect& hole,
                                     std::uint8_t minAlpha) {
  const PixelRect bands[] = {
      {0, 0, p.width, hole.y},
      {0, hole.y + hole.height, p.width, p.height - hole.y - hole.height},
      {0, hole.y, hole.x, hole.height},
      {hole.x + hole.width, hole.y, p.width - hole.x - hole.width, hole.height},
  };
  std::vector<PixelRect> rects;
  for (const PixelRect& band : bands) {
    const auto found = paintedRegion(p.data, p.stride, band, minAlpha);
    rects.insert(rects.end(), found.begin(), found.end());
  }
  return rects;
}

}  // namespace

PixelRect FrameComposer::pixelsOf(const Rect& area, const FrameLayout& layout, int width,
                                  int height) {
  // Rows run down from the panel's top; clamped as doubles, since the panel may be far larger
  // than any int.
  auto clamp = [](double v, int limit) {
    return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(limit)));
  };
  const double s = layout.scale;
  const int x0 = clamp(std::floor(area.minX() * s - layout.offsetX), width);
  const int x1 = clamp(std::ceil(area.maxX() * s - layout.offsetX), width);
  const int y0 = clamp(std::floor(layout.panelHeight - area.maxY() * s - layout.offsetY), height);
  const int y1 = clamp(std::ceil(layout.panelHeight - area.minY() * s - layout.offsetY), height);
  if (area.isEmpty() || x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

std::optional<PixelRect> FrameComposer::compose(const FramePixels& pixels,
                                                const FrameLayout& layout,
                                                std::optional<Rect> changed, const Draw& draw) {
  const PixelRect whole{0, 0, pixels.width, pixels.height};
  const bool part = changed && holdsLast_ && pixels == last_ && layout == lastLayout_;
  const PixelRect target = part ? pixelsOf(*changed, layout, pixels.width, pixels.height) : whole;
  if (isEmpty(target)) return PixelRect{};

  // A surface over the target's pixels alone, offset so that drawing on it is drawing on the whole
  // picture: cairo's matrix is the whole picture's (the canvas's kept layers stay valid), and
  // nothing lands outside the target, without the cost of a clip.
  const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(target.y) * pixels.stride + 4 * target.x;
  cairo_surface_t* surface = cairo_image_surface_create_for_data(
      pixels.data + at, CAIRO_FORMAT_ARGB32, target.width, target.height, pixels.stride);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    holdsLast_ = false;
    return std::nullopt;
  }
  cairo_surface_set_device_offset(surface, -target.x, -target.y);
  // Cleared where the last frame drew, when the target is the last one's: the rest of it is clear
  // already.
  PixelRect cleared = target;
  if (part && drawnKnown_ && target == lastTarget_) cleared = intersection(drawn_, target);
  for (int y = cleared.y; y < cleared.y + cleared.height; ++y) {
    std::memset(pixels.data + static_cast<std::ptrdiff_t>(y) * pixels.stride + 4 * cleared.x, 0,
                4 * static_cast<std::size_t>(cleared.width));
  }
  cairo_t* cr = cairo_create(surface);
  cairo_translate(cr, -layout.offsetX, -layout.offsetY);
  // Points to device pixels: every layer is drawn at the screen's own resolution.
  if (layout.scale != 1) cairo_scale(cr, layout.scale, layout.scale);
  if (raster_ == nullptr) raster_ = std::make_unique<PathRaster>();
  // Only what the canvas drew on can be painted; the rest of the target stays clear.
  PixelRect drawn = target;
  bool drawnKnown = false;
  {
    CairoCanvas canvas(cr, layout.panelHeight / layout.scale, CairoCanvas::Blend::ramp,
                       raster_.get());
    draw(canvas);
    PathRaster::Box box;
    drawnKnown = canvas.changedPixels(box);
    if (drawnKnown) {
      drawn = intersection({target.x + box.x0, target.y + box.y0, box.x1 - box.x0, box.y1 - box.y0},
                           target);
    }
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  cairo_surface_destroy(surface);

  const std::uint8_t minAlpha = layout.shaped ? kShapedMinAlpha : kInputMinAlpha;
  // Flattened (without a compositor) and scanned where it was drawn.
  auto paintedIn = [&](const PixelRect& area) {
    return layout.shaped ? flattenAndFindPainted(pixels.data, pixels.stride, area, minAlpha)
                         : paintedRegion(pixels.data, pixels.stride, area, minAlpha);
  };
  if (part) {
    // What lies around the redrawn part has not changed since it was last scanned.
    if (kept_ != target) {
      paintedAround_ = paintedAround(pixels, target, minAlpha);
      kept_ = target;
    }
    painted_ = paintedAround_;
    const auto inside = paintedIn(drawn);
    painted_.insert(painted_.end(), inside.begin(), inside.end());
  } else {
    painted_ = paintedIn(drawn);
    kept_ = {};
    paintedAround_.clear();
  }
  last_ = pixels;
  lastLayout_ = layout;
  holdsLast_ = true;
  lastTarget_ = target;
  drawn_ = drawn;
  drawnKnown_ = drawnKnown;
  return target;
}

}  // namespace perch
