// The mascot's canvas on cairo: a y-up view of `height` points drawn onto a y-down cairo context.
// Shapes are cairo's, text is pango's in the system UI font, images are CairoImage. Radial blends
// are looked up on a ramp made for each blend and filled through the shape as an image, which
// costs a fraction of cairo's own radial pattern and gives the same pixels (within a step of
// 1/255); layers are image surfaces.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string_view>
#include <vector>

#include "canvas.h"

typedef struct _PangoLayout PangoLayout;

namespace perch {

class CairoCanvas final : public Canvas {
 public:
  // How radial blends are filled: on the ramp, or by cairo's radial pattern (the reference that
  // the ramp is checked against).
  enum class Blend { ramp, pattern };

  CairoCanvas(cairo_t* cr, double height, Blend blend = Blend::ramp);
  ~CairoCanvas() override;

  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  void save() override;
  void restore() override;
  void clip(const Path& path) override;
  void fillPath(const Path& path, const Color& color) override;
  void strokePath(const Path& path, const Color& color, double lineWidth) override;
  void fillRadialGradient(const Path& path, const Color& center, const Color& edge) override;
  Size measureText(std::string_view text, const Font& font) override;
  void drawText(std::string_view text, const Font& font, const Color& color, Point origin) override;
  void drawImage(const CanvasImage& image, const Rect& rect) override;
  std::unique_ptr<CanvasLayer> makeLayer(const Rect& area,
                                         std::function<void(Canvas&)> paint) override;
  bool drawLayer(const CanvasLayer& layer) override;

 private:
  struct InUserSpace {};
  // Draws in the context's user space as it stands, without a flip of its own.
  CairoCanvas(cairo_t* cr, Blend blend, InUserSpace);
  // The device pixels that `rect` (user space) touches, cut to the clip; false when none.
  bool devicePixels(const Rect& rect, int& x0, int& y0, int& x1, int& y1);
  bool fillRadialRamp(const Path& path, const Color& center, const Color& edge);
  void setPath(const Path& path);
  static void setPath(cairo_t* cr, const Path& path);
  // Draws `shape` (black on `cr`, in this canvas's user space) as coverage over the device pixels
  // of `area`, then composites the source that `source` sets (in device space) through it. False
  // when the shape could not be drawn.
  bool compositeThroughCoverage(const Rect& area, const std::function<void(cairo_t*)>& shape,
                                const std::function<void()>& source);
  void setColor(const Color& color);
  // A one-line layout for the current cairo space, which must have y pointing down.
  PangoLayout* makeLayout(std::string_view text, const Font& font);

  cairo_t* cr_;
  Blend blend_;
  std::vector<std::uint32_t> blendPixels_;  // reused from blend to blend
  std::vector<unsigned char> coverage_;     // reused from shape to shape
};

}  // namespace perch
