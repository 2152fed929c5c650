#include "cairo_canvas.h"

#include <pango/pangocairo.h>

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

}  // namespace

CairoCanvas::CairoCanvas(cairo_t* cr, double height) : cr_(cr) {
  cairo_save(cr_);
  // Flip once so every shape is given in the core's y-up view coordinates.
  cairo_translate(cr_, 0, height);
  cairo_scale(cr_, 1, -1);
}

CairoCanvas::~CairoCanvas() { cairo_restore(cr_); }

void CairoCanvas::setColor(const Color& c) {
  cairo_set_source_rgba(cr_, c.red, c.green, c.blue, c.alpha);
}

void CairoCanvas::save() { cairo_save(cr_); }

void CairoCanvas::restore() { cairo_restore(cr_); }

void CairoCanvas::setPath(const Path& path) {
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
}

void CairoCanvas::fillPath(const Path& path, const Color& color) {
  setPath(path);
  setColor(color);
  cairo_fill(cr_);
}

void CairoCanvas::strokePath(const Path& path, const Color& color, double lineWidth) {
  setPath(path);
  setColor(color);
  cairo_set_line_width(cr_, lineWidth);
  cairo_stroke(cr_);
}

void CairoCanvas::fillRadialGradient(const Path& path, const Color& center, const Color& edge) {
  const Rect b = path.bounds();
  const double radius = std::hypot(b.width, b.height) * 0.5;
  if (!(radius > 0)) return;
  cairo_pattern_t* gradient =
      cairo_pattern_create_radial(b.midX(), b.midY(), 0, b.midX(), b.midY(), radius);
  cairo_pattern_add_color_stop_rgba(gradient, 0, center.red, center.green, center.blue,
                                    center.alpha);
  cairo_pattern_add_color_stop_rgba(gradient, 1, edge.red, edge.green, edge.blue, edge.alpha);
  cairo_pattern_set_extend(gradient, CAIRO_EXTEND_PAD);
  setPath(path);
  cairo_set_source(cr_, gradient);
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
  cairo_fill(cr_);
  cairo_restore(cr_);
}

}  // namespace perch
