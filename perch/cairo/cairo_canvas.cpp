#include "cairo_canvas.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "cairo_image.h"

namespace perch {
namespace {

PangoWeight pangoWeight(FontWeight weight) {
  switch (weight) {
    case FontWeight::medium:
      return PANGO_WEIGHT_MEDIUM;
    case FontWeight::semibold:
      return PANGO_WEIGHT_SEMIBOLD;
    case FontWeight::bold:
      return PANGO_WEIGHT_BOLD;
    case FontWeight::regular:
      break;
  }
  return PANGO_WEIGHT_NORMAL;
}

// A foreground kept as an image surface, with where it lies in device pixels and the
// transformation it was drawn under.
class CairoLayer final : public CanvasLayer {
 public:
  CairoLayer(cairo_surface_t* surface, int x, int y, const cairo_matrix_t& matrix)
      : surface_(surface), x_(x), y_(y), matrix_(matrix) {}
  ~CairoLayer() override { cairo_surface_destroy(surface_); }
  CairoLayer(const CairoLayer&) = delete;
  CairoLayer& operator=(const CairoLayer&) = delete;

  cairo_surface_t* surface() const { return surface_; }
  int x() const { return x_; }
  int y() const { return y_; }
  bool drawnUnder(const cairo_matrix_t& m) const {
    return m.xx == matrix_.xx && m.yx == matrix_.yx && m.xy == matrix_.xy && m.yy == matrix_.yy &&
           m.x0 == matrix_.x0 && m.y0 == matrix_.y0;
  }

 private:
  cairo_surface_t* surface_;
  int x_, y_;
  cairo_matrix_t matrix_;
};

// Steps of the blend's ramp from its centre (0) to its edge (1): fine enough that neighbouring
// steps of the steepest blend drawn here differ by a tenth of 1/255.
constexpr int rampSteps = 1024;
using Ramp = std::array<std::uint32_t, rampSteps + 1>;

// A two-colour ramp as pixman interpolates it: straight (not premultiplied) channels moving evenly
// from `from` to `to`, premultiplied afterwards and rounded to 8 bits.
Ramp makeRamp(const Color& from, const Color& to) {
  // In single precision, which rounds every step as double precision would but for values a
  // hundred-thousandth from halfway, and lets the compiler make four steps at once.
  auto unit = [](double v) { return static_cast<float>(std::clamp(v, 0.0, 1.0)); };
  const float r0 = unit(from.red), g0 = unit(from.green), b0 = unit(from.blue);
  const float a0 = unit(from.alpha);
  const float dr = unit(to.red) - r0, dg = unit(to.green) - g0, db = unit(to.blue) - b0;
  const float da = unit(to.alpha) - a0;
  Ramp ramp;
  for (int i = 0; i <= rampSteps; ++i) {
    const float t = static_cast<float>(i) * (1.0f / rampSteps);
    const float a = (a0 + da * t) * 255;
    const auto alpha = static_cast<std::uint32_t>(a + 0.5f);
    const auto red = static_cast<std::uint32_t>(a * (r0 + dr * t) + 0.5f);
    const auto green = static_cast<std::uint32_t>(a * (g0 + dg * t) + 0.5f);
    const auto blue = static_cast<std::uint32_t>(a * (b0 + db * t) + 0.5f);
    ramp[i] = alpha << 24 | red << 16 | green << 8 | blue;
  }
  return ramp;
}

// cairo's radial blend from the centre of `bounds` to the circle through its corners.
cairo_pattern_t* radialPattern(const Rect& bounds, const Color& center, const Color& edge) {
  const double radius = std::hypot(bounds.width, bounds.height) * 0.5;
  cairo_pattern_t* gradient = cairo_pattern_create_radial(bounds.midX(), bounds.midY(), 0,
                                                          bounds.midX(), bounds.midY(), radius);
  cairo_pattern_add_color_stop_rgba(gradient, 0, center.red, center.green, center.blue,
                                    center.alpha);
  cairo_pattern_add_color_stop_rgba(gradient, 1, edge.red, edge.green, edge.blue, edge.alpha);
  cairo_pattern_set_extend(gradient, CAIRO_EXTEND_PAD);
  return gradient;
}

}  // namespace

CairoCanvas::CairoCanvas(cairo_t* cr, double height, Blend blend, PathRaster* raster)
    : cr_(cr), blend_(blend), raster_(raster) {
  cairo_save(cr_);
  // Flip once so every shape is given in the core's y-up view coordinates.
  cairo_translate(cr_, 0, height);
  cairo_scale(cr_, 1, -1);
  readTarget();
}

CairoCanvas::CairoCanvas(cairo_t* cr, Blend blend, PathRaster* raster, InUserSpace)
    : cr_(cr), blend_(blend), raster_(raster) {
  cairo_save(cr_);
  readTarget();
}

CairoCanvas::~CairoCanvas() {
  if (target_.image != nullptr) pixman_image_unref(target_.image);
  cairo_restore(cr_);
}

void CairoCanvas::readTarget() {
  cairo_surface_t* surface = cairo_get_group_target(cr_);
  if (cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(surface) != CAIRO_FORMAT_ARGB32 ||
      cairo_image_surface_get_data(surface) == nullptr)
    return;
  // Device pixels land on the target's own pixels moved by its offset: whole pixels only.
  double offsetX = 0, offsetY = 0, scaleX = 1, scaleY = 1;
  cairo_surface_get_device_offset(surface, &offsetX, &offsetY);
  cairo_surface_get_device_scale(surface, &scaleX, &scaleY);
  constexpr double limit = 1 << 30;
  auto whole = [&](double v) { return std::abs(v - std::round(v)) < 1e-6 && std::abs(v) < limit; };
  if (scaleX != 1 || scaleY != 1 || !whole(offsetX) || !whole(offsetY)) return;
  // The clip, cut to the target, must be one rectangle on whole device pixels (or nothing).
  cairo_rectangle_list_t* clips = cairo_copy_clip_rectangle_list(cr_);
  bool simple = clips->status == CAIRO_STATUS_SUCCESS && clips->num_rectangles <= 1;
  PathRaster::Box clip{0, 0, 0, 0};
  if (simple && clips->num_rectangles == 1) {
    const cairo_rectangle_t& r = clips->rectangles[0];
    double x0 = r.x, y0 = r.y, x1 = r.x + r.width, y1 = r.y + r.height;
    cairo_user_to_device(cr_, &x0, &y0);
    cairo_user_to_device(cr_, &x1, &y1);
    simple = whole(x0) && whole(y0) && whole(x1) && whole(y1);
    clip = {static_cast<int>(std::round(std::min(x0, x1))),
            static_cast<int>(std::round(std::min(y0, y1))),
            static_cast<int>(std::round(std::max(x0, x1))),
            static_cast<int>(std::round(std::max(y0, y1)))};
  }
  cairo_rectangle_list_destroy(clips);
  if (!simple) return;
  target_.surface = surface;
  target_.offsetX = static_cast<int>(std::round(offsetX));
  target_.offsetY = static_cast<int>(std::round(offsetY));
  target_.clip = clip;
}

bool CairoCanvas::changedPixels(PathRaster::Box& box) const {
  if (changedAnywhere_) return false;
  box = changed_;
  return true;
}

void CairoCanvas::setColor(const Color& c) {
  cairo_set_source_rgba(cr_, c.red, c.green, c.blue, c.alpha);
}

void CairoCanvas::save() {
  cairo_save(cr_);
  savedClips_.push_back(clips_);
}

void CairoCanvas::restore() {
  cairo_restore(cr_);
  if (!savedClips_.empty()) {
    clips_ = savedClips_.back();
    savedClips_.pop_back();
  }
}

void CairoCanvas::setPath(const Path& path) { setPath(cr_, path); }

void CairoCanvas::setPath(cairo_t* cr_, const Path& path) {
  cairo_new_path(cr_);
  for (const Path::Element& e : path.elements()) {
    const Point* p = e.points;
    switch (e.verb) {
      case Path::Verb::moveTo:
        cairo_move_to(cr_, p[0].x, p[0].y);
        break;
      case Path::Verb::lineTo:
        cairo_line_to(cr_, p[0].x, p[0].y);
        break;
      case Path::Verb::curveTo:
        cairo_curve_to(cr_, p[0].x, p[0].y, p[1].x, p[1].y, p[2].x, p[2].y);
        break;
      case Path::Verb::close:
        cairo_close_path(cr_);
        break;
    }
  }
}

void CairoCanvas::clip(const Path& path) {
  setPath(path);
  cairo_clip(cr_);
  ++clips_;
}

bool CairoCanvas::onTarget() const {
  return target_.surface != nullptr && clips_ == 0 &&
         cairo_get_group_target(cr_) == target_.surface;
}

void CairoCanvas::fillPath(const Path& path, const Color& color) {
  setPath(path);
  setColor(color);
  changedAnywhere_ = true;
  cairo_fill(cr_);
}

void CairoCanvas::strokePath(const Path& path, const Color& color, double lineWidth) {
  Device device;
  PathRaster::Coverage coverage;
  if (deviceSpace(device) &&
      raster().stroke(path, device.transform, lineWidth * device.scale, device.clip, coverage)) {
    if (blend_ == Blend::ramp) {
      // pixman's colours are premultiplied, 16 bits a channel, as cairo makes them.
      auto channel = [&](double v) {
        return static_cast<std::uint16_t>(std::lround(std::clamp(v, 0.0, 1.0) * 65535));
      };
      const double alpha = std::clamp(color.alpha, 0.0, 1.0);
      const pixman_color_t premultiplied{channel(color.red * alpha), channel(color.green * alpha),
                                         channel(color.blue * alpha), channel(alpha)};
      pixman_image_t* solid = pixman_image_create_solid_fill(&premultiplied);
      const bool done = solid != nullptr && compositeThrough(solid, 0, 0, coverage);
      if (solid != nullptr) pixman_image_unref(solid);
      if (done) return;
    }
    cairo_save(cr_);
    setColor(color);
    paintThrough(coverage);
    cairo_restore(cr_);
    return;
  }
  setPath(path);
  setColor(color);
  cairo_set_line_width(cr_, lineWidth);
  changedAnywhere_ = true;
  cairo_stroke(cr_);
}

PathRaster& CairoCanvas::raster() {
  if (raster_ == nullptr) {
    ownRaster_ = std::make_unique<PathRaster>();
    raster_ = ownRaster_.get();
  }
  return *raster_;
}

bool CairoCanvas::deviceSpace(Device& device) {
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  // Widths and distances carry over to device pixels only under a scale (with flips).
  if (m.xy != 0 || m.yx != 0 || std::abs(m.xx) != std::abs(m.yy) || m.xx == 0) return false;
  device.transform = {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0};
  device.scale = std::abs(m.xx);
  if (onTarget()) {
    device.clip = target_.clip;
    return true;
  }
  // Only what the clip lets through is covered; cairo applies the clip's own shape afterwards.
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  cairo_clip_extents(cr_, &x0, &y0, &x1, &y1);
  cairo_user_to_device(cr_, &x0, &y0);
  cairo_user_to_device(cr_, &x1, &y1);
  auto pixel = [](double v, double limit) {
    return static_cast<int>(std::clamp(v, -limit, limit));
  };
  constexpr double limit = 1 << 30;
  device.clip = {
      pixel(std::floor(std::min(x0, x1)), limit), pixel(std::floor(std::min(y0, y1)), limit),
      pixel(std::ceil(std::max(x0, x1)), limit), pixel(std::ceil(std::max(y0, y1)), limit)};
  return true;
}

void CairoCanvas::paintThrough(const PathRaster::Coverage& coverage) {
  if (coverage.width <= 0 || coverage.height <= 0) return;
  cairo_surface_t* mask = cairo_image_surface_create_for_data(
      const_cast<unsigned char*>(coverage.data), CAIRO_FORMAT_A8, coverage.width, coverage.height,
      coverage.stride);
  cairo_identity_matrix(cr_);
  changedAnywhere_ = true;
  cairo_mask_surface(cr_, mask, coverage.x, coverage.y);
  cairo_surface_finish(mask);
  cairo_surface_destroy(mask);
}

bool CairoCanvas::composite(pixman_image_t* source, int sourceX, int sourceY, pixman_image_t* mask,
                            int maskX, int maskY, const PathRaster::Box& area) {
  if (!onTarget() || cairo_get_operator(cr_) != CAIRO_OPERATOR_OVER) return false;
  cairo_surface_t* surface = target_.surface;
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  if (target_.image == nullptr) {
    target_.image = pixman_image_create_bits_no_clear(
        PIXMAN_a8r8g8b8, width, height,
        reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface)),
        cairo_image_surface_get_stride(surface));
    if (target_.image == nullptr) return false;
  }
  // In the target's pixels: the area, within the clip and the target.
  const int dx = target_.offsetX, dy = target_.offsetY;
  const PathRaster::Box& clip = target_.clip;
  const int x0 = std::max({area.x0 + dx, clip.x0 + dx, 0});
  const int y0 = std::max({area.y0 + dy, clip.y0 + dy, 0});
  const int x1 = std::min({area.x1 + dx, clip.x1 + dx, width});
  const int y1 = std::min({area.y1 + dy, clip.y1 + dy, height});
  if (x0 >= x1 || y0 >= y1) return true;
  changed_ = changed_.x0 < changed_.x1
                 ? PathRaster::Box{std::min(changed_.x0, x0), std::min(changed_.y0, y0),
                                   std::max(changed_.x1, x1), std::max(changed_.y1, y1)}
                 : PathRaster::Box{x0, y0, x1, y1};
  cairo_surface_flush(surface);
  pixman_image_composite32(PIXMAN_OP_OVER, source, mask, target_.image, x0 - dx - sourceX,
                           y0 - dy - sourceY, x0 - dx - maskX, y0 - dy - maskY, x0, y0, x1 - x0,
                           y1 - y0);
  cairo_surface_mark_dirty_rectangle(surface, x0 - dx, y0 - dy, x1 - x0, y1 - y0);  // device space
  return true;
}

bool CairoCanvas::compositeThrough(pixman_image_t* source, int x, int y,
                                   const PathRaster::Coverage& coverage) {
  if (coverage.width <= 0 || coverage.height <= 0) return true;
  pixman_image_t* mask = pixman_image_create_bits_no_clear(
      PIXMAN_a8, coverage.width, coverage.height,
      reinterpret_cast<uint32_t*>(const_cast<std::uint8_t*>(coverage.data)), coverage.stride);
  if (mask == nullptr) return false;
  const bool done = composite(
      source, x, y, mask, coverage.x, coverage.y,
      {coverage.x, coverage.y, coverage.x + coverage.width, coverage.y + coverage.height});
  pixman_image_unref(mask);
  return done;
}

bool CairoCanvas::devicePixels(const Rect& rect, int& x0, int& y0, int& x1, int& y1) {
  double cx0 = 0, cy0 = 0, cx1 = 0, cy1 = 0;
  cairo_clip_extents(cr_, &cx0, &cy0, &cx1, &cy1);
  const Rect r = rect.intersection({cx0, cy0, cx1 - cx0, cy1 - cy0});
  if (r.isEmpty()) return false;
  double lo[2] = {1e300, 1e300}, hi[2] = {-1e300, -1e300};
  for (Point p : {Point{r.minX(), r.minY()}, Point{r.maxX(), r.minY()}, Point{r.minX(), r.maxY()},
                  Point{r.maxX(), r.maxY()}}) {
    cairo_user_to_device(cr_, &p.x, &p.y);
    lo[0] = std::min(lo[0], p.x), hi[0] = std::max(hi[0], p.x);
    lo[1] = std::min(lo[1], p.y), hi[1] = std::max(hi[1], p.y);
  }
  // A hair of slack so that edges on whole pixels do not take in the next one.
  x0 = static_cast<int>(std::floor(lo[0] + 1e-9)), y0 = static_cast<int>(std::floor(lo[1] + 1e-9));
  x1 = static_cast<int>(std::ceil(hi[0] - 1e-9)), y1 = static_cast<int>(std::ceil(hi[1] - 1e-9));
  return x1 > x0 && y1 > y0;
}

void CairoCanvas::setCoveredOval(const Rect& oval) {
  covered_ = {};
  Device device;
  if (!oval.isEmpty() && deviceSpace(device)) {
    covered_.any = PathRaster::deviceCircle(Path::oval(oval), device.transform, covered_.cx,
                                            covered_.cy, covered_.radius);
  }
}

bool CairoCanvas::fillRadialRaster(const Path& path, const Color& center, const Color& edge) {
  Device device;
  PathRaster::Coverage coverage;
  if (!deviceSpace(device) || !raster().fill(path, device.transform, device.clip, coverage))
    return false;
  if (covered_.any) raster().clearInside(coverage, covered_.cx, covered_.cy, covered_.radius);
  const Rect b = path.bounds();
  cairo_save(cr_);
  if (blend_ == Blend::pattern) {
    // cairo's own pattern, through the same coverage: the reference for the ramp.
    cairo_pattern_t* gradient = radialPattern(b, center, edge);
    cairo_set_source(cr_, gradient);  // locked to the canvas's user space
    paintThrough(coverage);
    cairo_pattern_destroy(gradient);
    cairo_restore(cr_);
    return true;
  }
  // The blend at each covered pixel's centre, as cairo's pattern samples it.
  const double radius = std::hypot(b.width, b.height) * 0.5 * device.scale;
  double cx = b.midX(), cy = b.midY();
  cairo_user_to_device(cr_, &cx, &cy);
  const auto ramp = makeRamp(center, edge);
  const double steps = radius > 0 ? rampSteps / radius : 0;
  const int width = coverage.width, height = coverage.height;
  blendPixels_.resize(static_cast<size_t>(width) * height);
  // Single precision is ample for the step (a hundred pixels to within 1/50000 of a step), and
  // lets four square roots go at once.
  const float stepsPerPixel = static_cast<float>(steps);
  int index[64];
  // A row as far below a centre on the pixel grid (or halfway between) as another is above it
  // takes the same blend, to the bit (only the square of its distance counts): where it also has
  // the same covered stretch and hole, it is copied from the one above.
  const double twice = 2 * cy;
  const bool mirrored = twice == std::floor(twice) && std::abs(twice) < 1 << 30;
  const int mirrorSum = mirrored ? static_cast<int>(twice) - 1 - 2 * coverage.y : -1;
  blendRows_.resize(static_cast<size_t>(height));
  for (int j = 0; j < height; ++j) {
    // Only the covered stretch of the row matters: the mask hides the rest.
    const std::uint8_t* mask = coverage.data + static_cast<size_t>(j) * coverage.stride;
    int first = 0, last = width;
    while (first < last && mask[first] == 0) ++first;
    while (last > first && mask[last - 1] == 0) --last;
    const float dy = static_cast<float>(coverage.y + j + 0.5 - cy);
    std::uint32_t* row = blendPixels_.data() + static_cast<size_t>(j) * width;
    // What will be covered (its coverage is cleared) is skipped.
    int hole = last, holeEnd = last;
    if (covered_.any) {
      PathRaster::columnsInside(covered_.cx, covered_.cy, covered_.radius, coverage.y + j, hole,
                                holeEnd);
      hole = std::clamp(hole - coverage.x, first, last);
      holeEnd = std::clamp(holeEnd - coverage.x, hole, last);
    }
    blendRows_[j] = {first, last, hole, holeEnd};
    if (const int above = mirrorSum - j;
        above >= 0 && above < j && blendRows_[above] == blendRows_[j]) {
      std::copy(blendPixels_.begin() + static_cast<std::ptrdiff_t>(above) * width + first,
                blendPixels_.begin() + static_cast<std::ptrdiff_t>(above) * width + last,
                row + first);
      continue;
    }
    for (int done = first, n = 0; done < last; done += n) {
      if (done >= hole && done < holeEnd) done = holeEnd;
      if (done >= last) break;
      // In runs: the steps first (vector square roots), then the look-ups.
      n = std::min({static_cast<int>(std::size(index)), last - done,
                    done < hole ? hole - done : last - done});
      const float dx0 = static_cast<float>(coverage.x + done + 0.5 - cx);
      for (int i = 0; i < n; ++i) {
        const float dx = dx0 + static_cast<float>(i);
        const float step = std::sqrt(dx * dx + dy * dy) * stepsPerPixel + 0.5f;
        index[i] = static_cast<int>(std::min(step, float(rampSteps)));
      }
      for (int i = 0; i < n; ++i) row[done + i] = ramp[index[i]];
    }
  }
  pixman_image_t* blend = pixman_image_create_bits_no_clear(PIXMAN_a8r8g8b8, width, height,
                                                            blendPixels_.data(), width * 4);
  const bool done = blend != nullptr && compositeThrough(blend, coverage.x, coverage.y, coverage);
  if (blend != nullptr) pixman_image_unref(blend);
  if (done) {
    cairo_restore(cr_);
    return true;
  }
  cairo_surface_t* image =
      cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(blendPixels_.data()),
                                          CAIRO_FORMAT_ARGB32, width, height, width * 4);
  cairo_identity_matrix(cr_);
  cairo_set_source_surface(cr_, image, coverage.x, coverage.y);
  paintThrough(coverage);
  cairo_restore(cr_);
  cairo_surface_finish(image);
  cairo_surface_destroy(image);
  return true;
}

void CairoCanvas::fillRadialGradient(const Path& path, const Color& center, const Color& edge) {
  if (fillRadialRaster(path, center, edge)) return;
  const Rect b = path.bounds();
  const double radius = std::hypot(b.width, b.height) * 0.5;
  if (!(radius > 0)) return;
  cairo_pattern_t* gradient = radialPattern(b, center, edge);
  setPath(path);
  cairo_set_source(cr_, gradient);
  changedAnywhere_ = true;
  cairo_fill(cr_);
  cairo_pattern_destroy(gradient);
}

PangoLayout* CairoCanvas::makeLayout(std::string_view text, const Font& font) {
  PangoLayout* layout = pango_cairo_create_layout(cr_);
  PangoContext* context = pango_layout_get_context(layout);
  // Unrounded metrics and glyph positions: the bubble follows the label's exact width.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context, options);
  cairo_font_options_destroy(options);
  pango_context_set_round_glyph_positions(context, FALSE);
  pango_layout_context_changed(layout);

  PangoFontDescription* description = pango_font_description_new();
  pango_font_description_set_family(description, "system-ui,sans-serif");
  pango_font_description_set_absolute_size(description, font.size * PANGO_SCALE);
  pango_font_description_set_weight(description, pangoWeight(font.weight));
  pango_layout_set_font_description(layout, description);
  pango_font_description_free(description);

  pango_layout_set_single_paragraph_mode(layout, TRUE);
  pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
  return layout;
}

Size CairoCanvas::measureText(std::string_view text, const Font& font) {
  cairo_save(cr_);
  cairo_scale(cr_, 1, -1);  // pango lays out with y down
  PangoLayout* layout = makeLayout(text, font);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  g_object_unref(layout);
  cairo_restore(cr_);
  return {logical.width / double(PANGO_SCALE), logical.height / double(PANGO_SCALE)};
}

void CairoCanvas::drawText(std::string_view text, const Font& font, const Color& color,
                           Point origin) {
  cairo_save(cr_);
  // Turn y back down for pango, so the glyphs stand upright; y' is then -y.
  cairo_scale(cr_, 1, -1);
  PangoLayout* layout = makeLayout(text, font);
  PangoRectangle logical;
  pango_layout_get_extents(layout, nullptr, &logical);
  const double x = logical.x / double(PANGO_SCALE), y = logical.y / double(PANGO_SCALE);
  const double height = logical.height / double(PANGO_SCALE);
  // The line box's top edge lies `height` above the origin.
  cairo_move_to(cr_, origin.x - x, -(origin.y + height) - y);
  setColor(color);
  changedAnywhere_ = true;
  pango_cairo_show_layout(cr_, layout);
  g_object_unref(layout);
  cairo_restore(cr_);
}

void CairoCanvas::drawImage(const CanvasImage& image, const Rect& rect) {
  const auto* cairoImage = dynamic_cast<const CairoImage*>(&image);
  if (cairoImage == nullptr || rect.isEmpty()) return;
  cairo_surface_t* raster = cairoImage->raster();
  const int width = cairo_image_surface_get_width(raster);
  const int height = cairo_image_surface_get_height(raster);
  if (width <= 0 || height <= 0) return;
  cairo_save(cr_);
  // The raster's first row is the image's top: it goes at the rectangle's upper edge.
  cairo_translate(cr_, rect.minX(), rect.maxY());
  cairo_scale(cr_, rect.width / width, -rect.height / height);
  cairo_set_source_surface(cr_, raster, 0, 0);
  cairo_pattern_t* source = cairo_get_source(cr_);
  cairo_pattern_set_filter(source, CAIRO_FILTER_GOOD);
  cairo_pattern_set_extend(source, CAIRO_EXTEND_PAD);  // crisp edges, no fade to transparency
  cairo_new_path(cr_);
  cairo_rectangle(cr_, 0, 0, width, height);
  changedAnywhere_ = true;
  cairo_fill(cr_);
  cairo_restore(cr_);
}

std::unique_ptr<CanvasLayer> CairoCanvas::makeLayer(const Rect& area,
                                                    std::function<void(Canvas&)> paint) {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  if (!devicePixels(area, x0, y0, x1, y1)) return nullptr;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0, y1 - y0);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_matrix_t matrix;
  cairo_get_matrix(cr_, &matrix);
  cairo_t* cr = cairo_create(surface);
  // The same user space as here, moved so that the layer's first pixel is device (x0, y0).
  cairo_matrix_t shifted = matrix;
  shifted.x0 -= x0;
  shifted.y0 -= y0;
  cairo_set_matrix(cr, &shifted);
  {
    CairoCanvas layer(cr, blend_, &raster(), InUserSpace{});
    paint(layer);
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  return std::make_unique<CairoLayer>(surface, x0, y0, matrix);
}

bool CairoCanvas::drawLayer(const CanvasLayer& layer) {
  const auto* cairoLayer = dynamic_cast<const CairoLayer*>(&layer);
  if (cairoLayer == nullptr) return false;
  cairo_matrix_t matrix;
  cairo_get_matrix(cr_, &matrix);
  if (!cairoLayer->drawnUnder(matrix)) return false;
  cairo_surface_t* surface = cairoLayer->surface();
  const int x = cairoLayer->x(), y = cairoLayer->y();
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  pixman_image_t* pixels = pixman_image_create_bits_no_clear(
      PIXMAN_a8r8g8b8, width, height,
      reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surface)),
      cairo_image_surface_get_stride(surface));
  const bool done =
      pixels != nullptr && composite(pixels, x, y, nullptr, 0, 0, {x, y, x + width, y + height});
  if (pixels != nullptr) pixman_image_unref(pixels);
  if (done) return true;
  cairo_save(cr_);
  cairo_identity_matrix(cr_);
  cairo_set_source_surface(cr_, surface, x, y);
  cairo_rectangle(cr_, x, y, width, height);
  changedAnywhere_ = true;
  cairo_fill(cr_);
  cairo_restore(cr_);
  return true;
}

}  // namespace perch
