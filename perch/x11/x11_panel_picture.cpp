// The panel's picture: drawn offscreen through the cairo canvas, shown in the window, and the
// window's bounding and input shapes cut to what it paints.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <cairo-xlib.h>

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
  const XRect g = ScreenSpace::toPixels(space_.toRoot(frame_));
  const int w = static_cast<int>(g.width), h = static_cast<int>(g.height);
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
  cairo_t* cr = cairo_create(picture);
  if (frame != nullptr) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  }
  {
    CairoCanvas canvas(cr, h);
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
              composited, g);
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
                                         static_cast<int>(shownGeometry_.width),
                                         static_cast<int>(shownGeometry_.height));
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
                                    const XRect& g) {
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
  input.push_back({static_cast<int>(std::floor(hit.minX())),
                   static_cast<int>(std::floor(g.height - hit.maxY())),
                   static_cast<int>(std::ceil(hit.width)),
                   static_cast<int>(std::ceil(hit.height))});
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
