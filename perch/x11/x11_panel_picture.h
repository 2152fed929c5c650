// The panel's picture: redraws scheduled as the core asks for them (all of it, or a part), drawn
// offscreen by the drawing library, shaped and sent to the window through the frame upload, and
// sent again where the server exposes the window.
#pragma once

#include <X11/Xlib.h>
#include <glib.h>

#include <memory>
#include <optional>

#include "floating_mascot_view.h"
#include "main_loop.h"
#include "panel_drawing.h"
#include "x11_connection.h"
#include "x11_frame_upload.h"
#include "x11_panel_window.h"
#include "x11_screens.h"

namespace perch {

class X11PanelPicture {
 public:
  // Ends `loop` when the drawing library cannot be opened.
  X11PanelPicture(const X11Connection& connection, X11PanelWindow& panel, const X11Screens& screens,
                  MainLoop& loop);
  ~X11PanelPicture();
  X11PanelPicture(const X11PanelPicture&) = delete;
  X11PanelPicture& operator=(const X11PanelPicture&) = delete;

  void attachView(FloatingMascotView& view) { view_ = &view; }
  void setNeedsDisplay();
  void setNeedsDisplayInRect(const Rect& area);
  // Draws at once what a redraw is waiting for, if anything: a timer's tick gets its frame in its
  // own dispatch rather than one loop iteration later.
  void redrawNow();
  // Draws all of it at once.
  void redrawWhole();
  void exposed(const XExposeEvent& event);
  // The drawing library's side, opened at the first need (or when the loop is first idle).
  PanelDrawing* drawing();
  // Opens the drawing library once the loop is idle, so that the first frame need not wait for it.
  void prepareDrawing();
  // The drawing library could not be opened: perch cannot show anything and has stopped.
  bool failed() const { return failed_; }

 private:
  void scheduleRedraw();
  void redraw();
  // Sends `area` of the picture to the window, or all of it.
  void showPicture(std::optional<PixelRect> area = std::nullopt);

  Display* display_;
  X11PanelWindow& panel_;
  const X11Screens& screens_;
  MainLoop& loop_;
  FloatingMascotView* view_ = nullptr;
  std::unique_ptr<PanelDrawing> drawing_;
  // Holds the latest picture, shown again on exposure; made at the first frame: start-up does
  // not wait for it.
  std::unique_ptr<X11FrameUpload> upload_;
  bool redrawWhole_ = false;              // a redraw of everything is due
  std::optional<Rect> redrawArea_;        // a redraw of this part of the view alone is due
  unsigned long lastPutSerial_ = 0;       // the request that last sent pixels to the window
  PixelRect lastPutArea_;                 // and the pixels it sent
  unsigned long lastWholePutSerial_ = 0;  // the request that last sent the whole picture
  bool exposedUnshown_ = false;           // part of the current run of exposures was not sent since
  guint redrawIdle_ = 0;
  guint drawingIdle_ = 0;
  bool failed_ = false;
};

}  // namespace perch
