#include "offscreen_canvas.h"

#include <cmath>
#include <cstdint>

namespace perch {

OffscreenCanvas::OffscreenCanvas(int width, int height, CairoCanvas::Blend blend, double scale)
    : scale_(scale),
      width_(static_cast<int>(std::lround(width * scale))),
      height_(static_cast<int>(std::lround(height * scale))),
      surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width_, height_)),
      cr_(cairo_create(surface_)) {
  if (scale != 1) cairo_scale(cr_, scale, scale);
  canvas_ = std::make_unique<CairoCanvas>(cr_, height_ / scale, blend, &raster_);
}

OffscreenCanvas::~OffscreenCanvas() {
  canvas_.reset();
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

void OffscreenCanvas::clear() {
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_CLEAR);
  cairo_paint(cr_);
  cairo_restore(cr_);
}

Color OffscreenCanvas::pixelAt(double x, double y) {
  const int column = static_cast<int>(std::floor(x * scale_));
  const int row = static_cast<int>(std::floor(height_ - y * scale_));
  if (column < 0 || row < 0 || column >= width_ || row >= height_) return {0, 0, 0, 0};
  cairo_surface_flush(surface_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  if (data == nullptr) return {0, 0, 0, 0};
  const int stride = cairo_image_surface_get_stride(surface_);
  const std::uint32_t pixel = reinterpret_cast<const std::uint32_t*>(
      data + static_cast<std::ptrdiff_t>(row) * stride)[column];
  const double a = (pixel >> 24 & 0xff) / 255.0;
  if (a == 0) return {0, 0, 0, 0};
  auto channel = [&](int shift) { return (pixel >> shift & 0xff) / 255.0 / a; };
  return {channel(16), channel(8), channel(0), a};
}

bool OffscreenCanvas::writePng(const std::string& path) {
  cairo_surface_flush(surface_);
  return cairo_surface_write_to_png(surface_, path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace perch
