// A picture in memory: a transparent ARGB32 cairo image surface of whole points, `scale` pixels
// to the point, with a canvas on it in points. Tests read its pixels, perch-render saves it as
// PNG, the draw benchmark times it.
#pragma once

#include <memory>
#include <string>

#include "cairo_canvas.h"

namespace perch {

class OffscreenCanvas {
 public:
  // `width` and `height` in points; the surface has them times `scale` in pixels, rounded.
  OffscreenCanvas(int width, int height, CairoCanvas::Blend blend = CairoCanvas::Blend::ramp,
                  double scale = 1);
  ~OffscreenCanvas();
  OffscreenCanvas(const OffscreenCanvas&) = delete;
  OffscreenCanvas& operator=(const OffscreenCanvas&) = delete;

  Canvas& canvas() { return *canvas_; }
  // In pixels.
  int width() const { return width_; }
  int height() const { return height_; }
  double scale() const { return scale_; }
  cairo_surface_t* surface() const { return surface_; }

  // Makes every pixel fully transparent again.
  void clear();
  // The pixel holding view point (x, y) (y up), with its colour un-premultiplied; channels run
  // from 0 to 1, and a fully transparent pixel reads (0, 0, 0, 0). Outside the picture: the same.
  Color pixelAt(double x, double y);
  // False when the file cannot be written.
  bool writePng(const std::string& path);

 private:
  double scale_;
  int width_, height_;
  cairo_surface_t* surface_;
  cairo_t* cr_;
  PathRaster raster_;
  std::unique_ptr<CairoCanvas> canvas_;
};

}  // namespace perch
