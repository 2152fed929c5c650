// The panel's picture: drawn offscreen through the cairo canvas, shown in the window, and the
// window's bounding and input shapes cut to what it paints.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "drawing_library.h"
#include "x11_mascot_platform.h"

namespace perch {

void X11MascotPlatform::setNeedsDisplay() {
  redrawWhole_ = true;
  scheduleRedraw();
}

void X11MascotPlatform::setNeedsDisplayInRect(const Rect& area) {
  if (area.isEmpty()) return;
  redrawArea_ = redrawArea_ ? redrawArea_->united(area) : area;
  scheduleRedraw();
}

void X11MascotPlatform::scheduleRedraw() {
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

void X11MascotPlatform::redrawNow() {
  if (redrawIdle_ == 0) return;
  g_source_remove(redrawIdle_);
  redrawIdle_ = 0;
  redraw();
}

void X11MascotPlatform::redraw() {
  const bool whole = std::exchange(redrawWhole_, false);
  const std::optional<Rect> area = std::exchange(redrawArea_, std::nullopt);
  if (!mapped_ || view_ == nullptr) {
    if (drawing_ != nullptr) drawing_->forget();  // whatever changed meanwhile was not drawn
    applyGeometry();
    XFlush(display_);
    return;
  }
  PanelDrawing* drawing = this->drawing();
  if (drawing == nullptr) return;
  // Only the part of the panel on the screens is drawn, however large the panel.
  const ShownPart part = wantedPart();
  const int w = static_cast<int>(part.window.width), h = static_cast<int>(part.window.height);
  if (upload_ == nullptr) {
    upload_ = std::make_unique<X11FrameUpload>(
        display_, visual_, depth_,
        colormap_ != 0 ? colormap_ : DefaultColormap(display_, DefaultScreen(display_)), window_);
  }
  // Drawn offscreen first (straight into the frame the server reads, where there is one): its
  // alpha decides the window's shape before it is shown.
  const FramePixels pixels = upload_->frame(w, h);
  if (pixels.data == nullptr) return;  // out of memory: the window keeps its last picture
  const bool composited = composited_ && depth_ == 32;
  const FrameLayout layout{part.offsetX, part.offsetY, part.panelHeight, !composited,
                           space_.scale()};
  // During a feedback a tick changes only the glows and rings: only they are drawn again.
  const std::optional<PixelRect> changed = drawing->compose(
      pixels, layout, whole ? std::nullopt : area, [this](Canvas& canvas) { view_->draw(canvas); });
  if (!changed) return;  // not drawn: the window keeps its last picture
  // The shape for the new size goes out before the resize: whoever sees the new size already
  // finds the new shape (a shape may reach past the window's edges until then).
  applyShapes(drawing->painted(), composited, part);
  applyGeometry();
  if (changed->width > 0 && changed->height > 0) showPicture(*changed);
}

void X11MascotPlatform::showPicture(std::optional<PixelRect> area) {
  if (!mapped_) return;
  const unsigned long serial = NextRequest(display_);
  // Nothing was drawn yet without either.
  if (upload_ == nullptr || upload_->last().data == nullptr || drawing_ == nullptr) return;
  const PixelRect sent =
      area.value_or(PixelRect{0, 0, upload_->last().width, upload_->last().height});
  upload_->put(sent, *drawing_);
  lastPutSerial_ = serial;
  lastPutArea_ = sent;
  if (!area) lastWholePutSerial_ = serial;
  // Sent when the main loop next flushes, before it waits.
}

PanelDrawing* X11MascotPlatform::drawing() {
  if (drawing_ == nullptr && !failed_) {
    drawing_ = openDrawingLibrary();
    if (drawing_ == nullptr) {
      // A broken installation: nothing can be shown, so perch ends rather than run on unseen.
      failed_ = true;
      terminate();
    }
  }
  return drawing_.get();
}

void X11MascotPlatform::prepareDrawing() {
  if (drawing_ != nullptr || drawingIdle_ != 0) return;
  drawingIdle_ = g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11MascotPlatform*>(data);
        self->drawingIdle_ = 0;
        if (!self->terminated_) self->drawing();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
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
  // The pixels whose centres the hit area holds, within the window.
  const PixelRect pixels = ScreenSpace::pixelsHolding(hit, part, space_.scale());
  if (pixels.width > 0) input.push_back(pixels);
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
