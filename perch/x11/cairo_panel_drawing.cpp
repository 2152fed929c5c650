// The drawing library's side of the seam: frames through the cairo canvas, conversion for windows
// of other visuals (by pixman into the window's own pixel format, or through cairo's Xlib surface
// for visuals pixman has no format for), images through gdk-pixbuf. Built as its own shared
// library; everything but the entry function stays hidden in it.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo-xlib.h>
#include <pixman.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

#include "cairo_image.h"
#include "frame_composer.h"
#include "panel_drawing.h"

namespace perch {
namespace {

class CairoPanelDrawing final : public PanelDrawing {
 public:
  CairoPanelDrawing() = default;
  ~CairoPanelDrawing() override { releaseWindow(); }
  CairoPanelDrawing(const CairoPanelDrawing&) = delete;
  CairoPanelDrawing& operator=(const CairoPanelDrawing&) = delete;

  std::optional<PixelRect> compose(const FramePixels& pixels, const FrameLayout& layout,
                                   std::optional<Rect> changed, const Draw& draw) override {
    return composer_.compose(pixels, layout, changed, draw);
  }
  const std::vector<PixelRect>& painted() const override { return composer_.painted(); }
  void forget() override { composer_.forget(); }

  void putConverted(const ConvertedWindow& to, const FramePixels& pixels,
                    const PixelRect& area) override;
  void releaseWindow() override {
    if (window_ != nullptr) cairo_surface_destroy(window_);
    window_ = nullptr;
    if (gc_ != nullptr) XFreeGC(gcDisplay_, gc_);
    gc_ = nullptr;
  }

  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override {
    return loadCairoImage(path);
  }

 private:
  // By pixman and XPutImage; false when the visual's pixels are no format pixman writes.
  bool putPacked(const ConvertedWindow& to, const FramePixels& pixels, const PixelRect& area);

  FrameComposer composer_;
  std::vector<std::uint32_t> converted_;  // the area in the window's pixel format
  Display* gcDisplay_ = nullptr;
  GC gc_ = nullptr;
  cairo_surface_t* window_ = nullptr;  // made at the first conversion through cairo
  unsigned long drawable_ = 0;
  int width_ = 0, height_ = 0;
};

// The pixman format of a true-colour visual whose channels are packed from the lowest bit (blue,
// green, red upwards, or red, green, blue), with `bitsPerPixel` bits a pixel.
std::optional<pixman_format_code_t> packedFormat(const Visual& visual, int bitsPerPixel) {
  if (visual.c_class != TrueColor) return std::nullopt;
  const unsigned long r = visual.red_mask, g = visual.green_mask, b = visual.blue_mask;
  const int rBits = std::popcount(r), gBits = std::popcount(g), bBits = std::popcount(b);
  // Whether the mask's bits run unbroken upwards from bit `from`.
  auto packed = [](unsigned long mask, int from) {
    const int bits = std::popcount(mask);
    return bits > 0 && bits < 32 && mask == ((1ul << bits) - 1) << from;
  };
  int type = 0;
  if (packed(b, 0) && packed(g, bBits) && packed(r, bBits + gBits)) {
    type = PIXMAN_TYPE_ARGB;
  } else if (packed(r, 0) && packed(g, rBits) && packed(b, rBits + gBits)) {
    type = PIXMAN_TYPE_ABGR;
  } else {
    return std::nullopt;
  }
  const auto format =
      static_cast<pixman_format_code_t>(PIXMAN_FORMAT(bitsPerPixel, type, 0, rBits, gBits, bBits));
  if (rBits + gBits + bBits > bitsPerPixel || !pixman_format_supported_destination(format))
    return std::nullopt;
  return format;
}

bool CairoPanelDrawing::putPacked(const ConvertedWindow& to, const FramePixels& pixels,
                                  const PixelRect& area) {
  // Xlib fills in the server's bits a pixel and row padding for this depth.
  XImage* image = XCreateImage(
      to.display, static_cast<Visual*>(to.visual), static_cast<unsigned>(to.depth), ZPixmap, 0,
      nullptr, static_cast<unsigned>(area.width), static_cast<unsigned>(area.height), 32, 0);
  if (image == nullptr) return false;
  const auto format = packedFormat(*static_cast<Visual*>(to.visual), image->bits_per_pixel);
  const int stride = image->bytes_per_line;
  if (!format || stride % 4 != 0) {
    XDestroyImage(image);
    return false;
  }
  converted_.resize(static_cast<std::size_t>(stride / 4) * area.height);
  pixman_image_t* source = pixman_image_create_bits_no_clear(
      PIXMAN_a8r8g8b8, pixels.width, pixels.height, reinterpret_cast<std::uint32_t*>(pixels.data),
      pixels.stride);
  pixman_image_t* target = pixman_image_create_bits_no_clear(*format, area.width, area.height,
                                                             converted_.data(), stride);
  if (source != nullptr && target != nullptr) {
    pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, area.x, area.y, 0, 0, 0, 0,
                             area.width, area.height);
  }
  if (source != nullptr) pixman_image_unref(source);
  if (target != nullptr) pixman_image_unref(target);
  if (source == nullptr || target == nullptr) {
    XDestroyImage(image);
    return false;
  }
  // The words as this machine holds them; Xlib swaps them for a server of the other order.
  image->data = reinterpret_cast<char*>(converted_.data());
  image->byte_order = std::endian::native == std::endian::little ? LSBFirst : MSBFirst;
  if (gc_ == nullptr) {
    gc_ = XCreateGC(to.display, to.window, 0, nullptr);
    gcDisplay_ = to.display;
  }
  XPutImage(to.display, to.window, gc_, image, 0, 0, area.x, area.y,
            static_cast<unsigned>(area.width), static_cast<unsigned>(area.height));
  image->data = nullptr;  // not Xlib's to free
  XDestroyImage(image);
  return true;
}

void CairoPanelDrawing::putConverted(const ConvertedWindow& to, const FramePixels& pixels,
                                     const PixelRect& area) {
  if (area.width <= 0 || area.height <= 0 || putPacked(to, pixels, area)) return;
  if (window_ != nullptr && drawable_ != to.window) releaseWindow();
  if (window_ == nullptr) {
    window_ = cairo_xlib_surface_create(to.display, to.window, static_cast<Visual*>(to.visual),
                                        to.width, to.height);
    drawable_ = to.window;
  } else if (to.width != width_ || to.height != height_) {
    cairo_xlib_surface_set_size(window_, to.width, to.height);
  }
  width_ = to.width;
  height_ = to.height;
  cairo_surface_t* picture = cairo_image_surface_create_for_data(
      pixels.data, CAIRO_FORMAT_ARGB32, pixels.width, pixels.height, pixels.stride);
  cairo_t* cr = cairo_create(window_);
  cairo_set_source_surface(cr, picture, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_rectangle(cr, area.x, area.y, area.width, area.height);
  cairo_fill(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(picture);
  cairo_surface_flush(window_);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PanelDrawing* PERCH_PANEL_DRAWING_ENTRY() {
  return new CairoPanelDrawing();
}

}  // namespace perch
