// The drawing library's side of the seam: frames through the cairo canvas, conversion for windows
// of other visuals through cairo's Xlib surface, images through gdk-pixbuf. Built as its own
// shared library; everything but the entry function stays hidden in it.
#include <X11/Xlib.h>
#include <cairo-xlib.h>

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
  }

  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override {
    return loadCairoImage(path);
  }

 private:
  FrameComposer composer_;
  cairo_surface_t* window_ = nullptr;  // made at the first conversion
  unsigned long drawable_ = 0;
  int width_ = 0, height_ = 0;
};

void CairoPanelDrawing::putConverted(const ConvertedWindow& to, const FramePixels& pixels,
                                     const PixelRect& area) {
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
