#include "cairo_image.h"

#include <cairo.h>
#include <dlfcn.h>
// Types and declarations only: the library itself is opened when an image is read (below).
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace perch {
namespace {

// The few gdk-pixbuf functions an image needs, looked up in the library opened on demand: it
// brings GIO's file and MIME machinery and its own loaders, so a run without an avatar never
// maps it. Once opened the library stays (RTLD_NODELETE), as the GObject types it registers
// must outlive this handle. Without the library, or with any function missing, `ready()` is
// false and no image is read.
class PixbufLibrary {
 public:
  PixbufLibrary();
  ~PixbufLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  PixbufLibrary(const PixbufLibrary&) = delete;
  PixbufLibrary& operator=(const PixbufLibrary&) = delete;

  bool ready() const {
    return newFromFile && applyEmbeddedOrientation && scaleSimple && width && height && channels &&
           hasAlpha && bitsPerSample && rowstride && readPixels;
  }

  decltype(&gdk_pixbuf_new_from_file) newFromFile = nullptr;
  decltype(&gdk_pixbuf_apply_embedded_orientation) applyEmbeddedOrientation = nullptr;
  decltype(&gdk_pixbuf_scale_simple) scaleSimple = nullptr;
  decltype(&gdk_pixbuf_get_width) width = nullptr;
  decltype(&gdk_pixbuf_get_height) height = nullptr;
  decltype(&gdk_pixbuf_get_n_channels) channels = nullptr;
  decltype(&gdk_pixbuf_get_has_alpha) hasAlpha = nullptr;
  decltype(&gdk_pixbuf_get_bits_per_sample) bitsPerSample = nullptr;
  decltype(&gdk_pixbuf_get_rowstride) rowstride = nullptr;
  decltype(&gdk_pixbuf_read_pixels) readPixels = nullptr;

 private:
  void* handle_;
};

PixbufLibrary::PixbufLibrary()
    : handle_(dlopen("libgdk_pixbuf-2.0.so.0", RTLD_LAZY | RTLD_LOCAL | RTLD_NODELETE)) {
  if (handle_ == nullptr) return;
    // Each pointer gets the function of its own declared type, by that function's name.
#define PERCH_FIND(member, function) \
  member = reinterpret_cast<decltype(&function)>(dlsym(handle_, #function))
  PERCH_FIND(newFromFile, gdk_pixbuf_new_from_file);
  PERCH_FIND(applyEmbeddedOrientation, gdk_pixbuf_apply_embedded_orientation);
  PERCH_FIND(scaleSimple, gdk_pixbuf_scale_simple);
  PERCH_FIND(width, gdk_pixbuf_get_width);
  PERCH_FIND(height, gdk_pixbuf_get_height);
  PERCH_FIND(channels, gdk_pixbuf_get_n_channels);
  PERCH_FIND(hasAlpha, gdk_pixbuf_get_has_alpha);
  PERCH_FIND(bitsPerSample, gdk_pixbuf_get_bits_per_sample);
  PERCH_FIND(rowstride, gdk_pixbuf_get_rowstride);
  PERCH_FIND(readPixels, gdk_pixbuf_read_pixels);
#undef PERCH_FIND
}

// Copies a pixbuf (RGB or RGBA, straight alpha) into a new premultiplied ARGB32 surface.
cairo_surface_t* rasterFromPixbuf(const PixbufLibrary& gdk, const GdkPixbuf* pixbuf) {
  const int width = gdk.width(pixbuf), height = gdk.height(pixbuf);
  const int channels = gdk.channels(pixbuf);
  const bool hasAlpha = gdk.hasAlpha(pixbuf);
  if (gdk.bitsPerSample(pixbuf) != 8 || channels < (hasAlpha ? 4 : 3)) {
    return nullptr;
  }
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  const guint8* source = gdk.readPixels(pixbuf);
  const int sourceStride = gdk.rowstride(pixbuf);
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
  const PixbufLibrary gdk;
  if (!gdk.ready()) return nullptr;
  GError* error = nullptr;
  GdkPixbuf* loaded = gdk.newFromFile(path.c_str(), &error);
  if (loaded == nullptr) {
    g_clear_error(&error);
    return nullptr;
  }
  GdkPixbuf* pixbuf = gdk.applyEmbeddedOrientation(loaded);
  g_object_unref(loaded);
  if (pixbuf == nullptr) return nullptr;

  const int width = gdk.width(pixbuf), height = gdk.height(pixbuf);
  const Size size{static_cast<double>(width), static_cast<double>(height)};
  const int shortSide = std::min(width, height);
  if (maxShortSide > 0 && shortSide > maxShortSide) {
    const double factor = static_cast<double>(maxShortSide) / shortSide;
    const int w = std::max(1, static_cast<int>(std::lround(width * factor)));
    const int h = std::max(1, static_cast<int>(std::lround(height * factor)));
    GdkPixbuf* reduced = gdk.scaleSimple(pixbuf, w, h, GDK_INTERP_BILINEAR);
    if (reduced != nullptr) {
      g_object_unref(pixbuf);
      pixbuf = reduced;
    }
  }
  cairo_surface_t* raster = rasterFromPixbuf(gdk, pixbuf);
  g_object_unref(pixbuf);
  if (raster == nullptr) return nullptr;
  return std::make_unique<CairoImage>(raster, size);
}

}  // namespace perch
