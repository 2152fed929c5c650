#include "cairo_image.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace perch {
namespace {

// Copies a pixbuf (RGB or RGBA, straight alpha) into a new premultiplied ARGB32 surface.
cairo_surface_t* rasterFromPixbuf(const GdkPixbuf* pixbuf) {
  const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool hasAlpha = gdk_pixbuf_get_has_alpha(pixbuf);
  if (gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || channels < (hasAlpha ? 4 : 3)) {
    return nullptr;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  const guint8* source = gdk_pixbuf_read_pixels(pixbuf);
  const int sourceStride = gdk_pixbuf_get_rowstride(pixbuf);
  unsigned char* target = cairo_image_surface_get_data(surface);
  const int targetStride = cairo_image_surface_get_stride(surface);
  auto premultiply = [](unsigned c, unsigned a) { return (c * a + 127) / 255; };
  for (int y = 0; y < height; ++y) {
    const guint8* in = source + static_cast<std::ptrdiff_t>(y) * sourceStride;
    auto* out =
        reinterpret_cast<std::uint32_t*>(target + static_cast<std::ptrdiff_t>(y) * targetStride);
    for (int x = 0; x < width; ++x, in += channels) {
      const unsigned a = hasAlpha ? in[3] : 255;
      out[x] = a << 24 | premultiply(in[0], a) << 16 | premultiply(in[1], a) << 8 |
               premultiply(in[2], a);
    }
  }
  cairo_surface_mark_dirty(surface);
  return surface;
}

}  // namespace

CairoImage::CairoImage(cairo_surface_t* raster, Size size) : raster_(raster), size_(size) {}

CairoImage::~CairoImage() { cairo_surface_destroy(raster_); }

std::unique_ptr<CairoImage> loadCairoImage(const std::string& path, int maxShortSide) {
  GError* error = nullptr;
  GdkPixbuf* loaded = gdk_pixbuf_new_from_file(path.c_str(), &error);
  if (loaded == nullptr) {
    g_clear_error(&error);
    return nullptr;
  }
  GdkPixbuf* pixbuf = gdk_pixbuf_apply_embedded_orientation(loaded);
  g_object_unref(loaded);
  if (pixbuf == nullptr) return nullptr;

  const int width = gdk_pixbuf_get_width(pixbuf), height = gdk_pixbuf_get_height(pixbuf);
  const Size size{static_cast<double>(width), static_cast<double>(height)};
  const int shortSide = std::min(width, height);
  if (maxShortSide > 0 && shortSide > maxShortSide) {
    const double factor = static_cast<double>(maxShortSide) / shortSide;
    const int w = std::max(1, static_cast<int>(std::lround(width * factor)));
    const int h = std::max(1, static_cast<int>(std::lround(height * factor)));
    GdkPixbuf* reduced = gdk_pixbuf_scale_simple(pixbuf, w, h, GDK_INTERP_BILINEAR);
    if (reduced != nullptr) {
      g_object_unref(pixbuf);
      pixbuf = reduced;
    }
  }
  cairo_surface_t* raster = rasterFromPixbuf(pixbuf);
  g_object_unref(pixbuf);
  if (raster == nullptr) return nullptr;
  return std::make_unique<CairoImage>(raster, size);
}

}  // namespace perch
