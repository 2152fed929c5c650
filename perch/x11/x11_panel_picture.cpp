// The panel's picture: redraws, the drawing library, the upload and exposures.
#include "x11_panel_picture.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "drawing_library.h"

namespace perch {

X11PanelPicture::X11PanelPicture(const X11Connection& connection, X11PanelWindow& panel,
                                 const X11Screens& screens, MainLoop& loop)
    : display_(connection.display()), panel_(panel), screens_(screens), loop_(loop) {}

X11PanelPicture::~X11PanelPicture() {
  for (guint id : {redrawIdle_, drawingIdle_}) {
    if (id != 0) g_source_remove(id);
  }
}

void X11PanelPicture::setNeedsDisplay() {
  redrawWhole_ = true;
  scheduleRedraw();
}

void X11PanelPicture::setNeedsDisplayInRect(const Rect& area) {
  if (area.isEmpty()) return;
  redrawArea_ = redrawArea_ ? redrawArea_->united(area) : area;
  scheduleRedraw();
}

void X11PanelPicture::scheduleRedraw() {
  if (redrawIdle_ != 0) return;
  redrawIdle_ = g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11PanelPicture*>(data);
        self->redrawIdle_ = 0;
        self->redraw();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void X11PanelPicture::redrawNow() {
  if (redrawIdle_ == 0) return;
  g_source_remove(redrawIdle_);
  redrawIdle_ = 0;
  redraw();
}

void X11PanelPicture::redrawWhole() {
  redrawWhole_ = true;
  redraw();
}

void X11PanelPicture::exposed(const XExposeEvent& e) {
  // Exposures come from our own reshaping too: they show the picture already drawn rather
  // than drawing (and reshaping) again, and not at all when pixels sent after the server
  // raised them cover them (the reshape of each frame goes out just before its picture, and
  // during a feedback only the part that changed is reshaped and sent).
  const PixelRect& sent = lastPutArea_;
  const bool coveredSince =
      e.serial < lastWholePutSerial_ ||
      (e.serial < lastPutSerial_ && e.x >= sent.x && e.y >= sent.y &&
       e.x + e.width <= sent.x + sent.width && e.y + e.height <= sent.y + sent.height);
  if (!coveredSince) exposedUnshown_ = true;
  if (e.count == 0 && std::exchange(exposedUnshown_, false)) showPicture();
}

void X11PanelPicture::redraw() {
  const bool whole = std::exchange(redrawWhole_, false);
  const std::optional<Rect> area = std::exchange(redrawArea_, std::nullopt);
  if (!panel_.mapped() || view_ == nullptr) {
    if (drawing_ != nullptr) drawing_->forget();  // whatever changed meanwhile was not drawn
    panel_.applyGeometry();
    XFlush(display_);
    return;
  }
  PanelDrawing* drawing = this->drawing();
  if (drawing == nullptr) return;
  // Only the part of the panel on the screens is drawn, however large the panel.
  const ShownPart part = panel_.wantedPart();
  const int w = static_cast<int>(part.window.width), h = static_cast<int>(part.window.height);
  if (upload_ == nullptr) {
    upload_ = std::make_unique<X11FrameUpload>(display_, panel_.visual(), panel_.depth(),
                                               panel_.colormap(), panel_.id());
  }
  // Drawn offscreen first (straight into the frame the server reads, where there is one): its
  // alpha decides the window's shape before it is shown.
  const FramePixels pixels = upload_->frame(w, h);
  if (pixels.data == nullptr) return;  // out of memory: the window keeps its last picture
  const bool composited = panel_.composited() && panel_.depth() == 32;
  const FrameLayout layout{part.offsetX, part.offsetY, part.panelHeight, !composited,
                           screens_.space().scale()};
  // During a feedback a tick changes only the glows and rings: only they are drawn again.
  const std::optional<PixelRect> changed = drawing->compose(
      pixels, layout, whole ? std::nullopt : area, [this](Canvas& canvas) { view_->draw(canvas); });
  if (!changed) return;  // not drawn: the window keeps its last picture
  // The shape for the new size goes out before the resize: whoever sees the new size already
  // finds the new shape (a shape may reach past the window's edges until then).
  panel_.applyShapes(drawing->painted(), composited, part, view_->hitArea());
  panel_.applyGeometry();
  if (changed->width > 0 && changed->height > 0) showPicture(*changed);
}

void X11PanelPicture::showPicture(std::optional<PixelRect> area) {
  if (!panel_.mapped()) return;
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

PanelDrawing* X11PanelPicture::drawing() {
  if (drawing_ == nullptr && !failed_) {
    drawing_ = openDrawingLibrary();
    if (drawing_ == nullptr) {
      // A broken installation: nothing can be shown, so perch ends rather than run on unseen.
      failed_ = true;
      loop_.quit();
    }
  }
  return drawing_.get();
}

void X11PanelPicture::prepareDrawing() {
  if (drawing_ != nullptr || drawingIdle_ != 0) return;
  drawingIdle_ = g_idle_add_full(
      G_PRIORITY_DEFAULT_IDLE,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11PanelPicture*>(data);
        self->drawingIdle_ = 0;
        if (!self->loop_.ended()) self->drawing();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

}  // namespace perch
