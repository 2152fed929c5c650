// Images for the cairo canvas: a file read with gdk-pixbuf (PNG, JPEG, GIF, BMP, TIFF, and SVG
// where its loader is installed) and kept as a premultiplied ARGB32 cairo surface. gdk-pixbuf is
// opened at the first image read, not linked: a program that reads none never maps it.
#pragma once

#include <memory>
#include <string>

#include "canvas.h"

typedef struct _cairo_surface cairo_surface_t;

namespace perch {

class CairoImage final : public CanvasImage {
 public:
  // Takes over the image surface; `size` is the picture's size in points, which may differ
  // from the raster's when the raster was reduced.
  CairoImage(cairo_surface_t* raster, Size size);
  ~CairoImage() override;
  CairoImage(const CairoImage&) = delete;
  CairoImage& operator=(const CairoImage&) = delete;

  Size size() const override { return size_; }
  cairo_surface_t* raster() const { return raster_; }

 private:
  cairo_surface_t* raster_;
  Size size_;
};

// The image in the file, turned upright by its orientation tag; null when the file is missing, no
// installed loader reads it, or gdk-pixbuf itself is missing. One point per pixel. Rasters whose
// shorter side exceeds `maxShortSide` pixels are reduced to it once here (128 covers the 44-point
// button at twice the pixel density), so that scaling it into the button on every frame stays
// cheap.
std::unique_ptr<CairoImage> loadCairoImage(const std::string& path, int maxShortSide = 128);

}  // namespace perch
