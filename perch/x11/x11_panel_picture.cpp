// The panel's picture: drawn offscreen through the cairo canvas, shown in the window, and the
// window's bounding and input shapes cut to what it paints.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <cairo-xlib.h>

#include <algorithm>
#include <cmath>

#include "cairo_canvas.h"
#include "x11_mascot_platform.h"

namespace perch {
namespace {

// Without a compositor a pixel is either shown or not: the window keeps the pixels at least half
// covered. With one, every pixel that is painted at all takes clicks.
constexpr std::uint8_t kShapedMinAlpha = 128;
constexpr std::uint8_t kInputMinAlpha = 1;

}  // namespace

void X11MascotPlatform::setNeedsDisplay() {
  if (redrawIdle_ != 0) return;
  redrawIdle_ = g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11MascotPlatform*>(data);
        self->redrawIdle_ = 0;
        self->redraw();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void X11MascotPlatform::redraw() {
  if (!mapped_ || view_ == nullptr) {
    applyGeometry();
    XFlush(display_);
    return;
  }
  // Only the part of the panel on the screens is drawn, however large the panel.
  const ShownPart part = wantedPart();
  const int w = static_cast<int>(part.window.width), h = static_cast<int>(part.window.height);
  if (upload_ == nullptr) {
    upload_ = std::make_unique<X11FrameUpload>(display_, visual_, depth_, window_);
  }
  // Drawn offscreen first (straight into the frame the server reads, where there is one): its
  // alpha decides the window's shape before it is shown.
  std::uint8_t* frame = upload_->frame(w, h);
  cairo_surface_t* picture =
      frame != nullptr
          ? cairo_image_surface_create_for_data(frame, CAIRO_FORMAT_ARGB32, w, h, upload_->stride())
          : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(picture) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(picture);  // out of memory: the window keeps its last picture
    return;
  }
  cairo_t* cr = cairo_create(picture);
  if (frame != nullptr) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  }
  cairo_translate(cr, -part.offsetX, -part.offsetY);
  if (raster_ == nullptr) raster_ = std::make_unique<PathRaster>();
  {
    CairoCanvas canvas(cr, part.panelHeight, CairoCanvas::Blend::ramp, raster_.get());
    view_->draw(canvas);
  }
  cairo_destroy(cr);
  cairo_surface_flush(picture);
  unsigned char* pixels = cairo_image_surface_get_data(picture);
  const int stride = cairo_image_surface_get_stride(picture);
  const bool composited = composited_ && depth_ == 32;
  if (!composited) flattenForShapedWindow(pixels, stride, w, h, kShapedMinAlpha);
  cairo_surface_mark_dirty(picture);
  // The shape for the new size goes out before the resize: whoever sees the new size already
  // finds the new shape (a shape may reach past the window's edges until then).
  applyShapes(paintedRegion(pixels, stride, w, h, composited ? kInputMinAlpha : kShapedMinAlpha),
              composited, part);
  applyGeometry();

  if (picture_ != nullptr) cairo_surface_destroy(picture_);
  picture_ = nullptr;
  if (frame != nullptr) {
    cairo_surface_destroy(picture);  // the frame itself stays with the upload
  } else {
    picture_ = picture;
  }
  showPicture();
}

void X11MascotPlatform::showPicture() {
  if (!mapped_) return;
  if (picture_ == nullptr) {
    if (upload_ == nullptr || upload_->stride() == 0) return;
    lastPutSerial_ = NextRequest(display_);
    upload_->put();
    XFlush(display_);
    return;
  }
  // Only a window whose pixels are not the picture's own words comes here: cairo converts them.
  if (surface_ == nullptr) {
    surface_ = cairo_xlib_surface_create(display_, window_, static_cast<Visual*>(visual_),
                                         static_cast<int>(shown_.window.width),
                                         static_cast<int>(shown_.window.height));
  }
  lastPutSerial_ = NextRequest(display_);
  cairo_t* cr = cairo_create(surface_);
  cairo_set_source_surface(cr, picture_, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface_);
  XFlush(display_);
}

void X11MascotPlatform::applyShapes(const std::vector<PixelRect>& painted, bool composited,
                                    const ShownPart& part) {
  auto toX = [](const std::vector<PixelRect>& rects) {
    std::vector<XRectangle> x;
    for (const PixelRect& r : rects) {
      x.push_back({static_cast<short>(r.x), static_cast<short>(r.y),
                   static_cast<unsigned short>(r.width), static_cast<unsigned short>(r.height)});
    }
    return x;
  };
  // Unpainted pixels let clicks through to the window behind, except inside the hit area, which
  // takes every press as the button's.
  std::vector<PixelRect> input = painted;
  const Rect hit = view_->hitArea();
  // The pixels whose centres the hit area holds (it is half-open: the far edges are outside), in
  // the window's pixels and within the window: the panel may reach far beyond it.
  const double x0 = std::max(0.0, std::ceil(hit.minX() - 0.5) - part.offsetX);
  const double x1 = std::min(double(part.window.width), std::ceil(hit.maxX() - 0.5) - part.offsetX);
  const double y0 =
      std::max(0.0, std::floor(part.panelHeight - hit.maxY() - 0.5) + 1 - part.offsetY);
  const double y1 = std::min(double(part.window.height),
                             std::floor(part.panelHeight - hit.minY() - 0.5) + 1 - part.offsetY);
  if (x0 < x1 && y0 < y1) {
    input.push_back({int(x0), int(y0), int(x1 - x0), int(y1 - y0)});
  }
  if (composited) {
    if (shapedLast_) XShapeCombineMask(display_, window_, ShapeBounding, 0, 0, 0, ShapeSet);
    shapedLast_ = false;
    boundingLast_.clear();
  } else if (!shapedLast_ || painted != boundingLast_) {
    // No compositor: the window is cut to what is painted, so the screen behind shows around it.
    auto rects = toX(painted);
    XShapeCombineRectangles(display_, window_, ShapeBounding, 0, 0, rects.data(),
                            static_cast<int>(rects.size()), ShapeSet, Unsorted);
    shapedLast_ = true;
    boundingLast_ = painted;
  }
  if (fixesEvent_ >= 0 && input != inputLast_) {
    auto rects = toX(input);
    XserverRegion region =
        XFixesCreateRegion(display_, rects.data(), static_cast<int>(rects.size()));
    XFixesSetWindowShapeRegion(display_, window_, ShapeInput, 0, 0, region);
    XFixesDestroyRegion(display_, region);
    inputLast_ = std::move(input);
  }
}

}  // namespace perch
