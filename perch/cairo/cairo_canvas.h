// The mascot's canvas on cairo: a y-up view of `height` points drawn onto a y-down cairo context.
// Shapes and gradients are cairo's, text is pango's in the system UI font, images are CairoImage.
#pragma once

#include <cairo.h>

#include <string_view>

#include "canvas.h"

typedef struct _PangoLayout PangoLayout;

namespace perch {

class CairoCanvas final : public Canvas {
 public:
  CairoCanvas(cairo_t* cr, double height);
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

 private:
  void setPath(const Path& path);
  void setColor(const Color& color);
  // A one-line layout for the current cairo space, which must have y pointing down.
  PangoLayout* makeLayout(std::string_view text, const Font& font);

  cairo_t* cr_;
};

}  // namespace perch
