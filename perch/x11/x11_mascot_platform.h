// The mascot's desktop on X11: an override-redirect window (never managed, never focused, on
// every workspace) with a 32-bit ARGB visual where one exists, screens from XRandR monitors, and
// GLib's main loop for the X connection, timers and the command hand-over. One class whose
// members are defined by area: x11_mascot_platform.cpp (connection, event routing),
// x11_panel_window.cpp (window, stacking), x11_panel_picture.cpp (picture, shapes),
// x11_screens.cpp, x11_pointer.cpp (pointer, cursors), x11_wide_window.cpp (the pointer on
// Xwayland), x11_compositor.cpp, x11_main_loop.cpp, x11_desktop_scale.cpp (the pixels a point
// takes).
#pragma once

#include <glib.h>

#include <map>
#include <memory>
#include <string>

#include "connection.h"
#include "floating_mascot_view.h"
#include "mascot_platform.h"
#include "panel_drawing.h"
#include "screen_space.h"
#include "x11_frame_upload.h"

union _XEvent;

namespace perch {

class X11MascotPlatform final : public MascotPlatform {
 public:
  // Opens the display named by $DISPLAY; check connected() before use.
  X11MascotPlatform();
  ~X11MascotPlatform() override;
  X11MascotPlatform(const X11MascotPlatform&) = delete;
  X11MascotPlatform& operator=(const X11MascotPlatform&) = delete;

  bool connected() const { return display_ != nullptr; }
  // The view whose pointer events and drawing this window carries.
  void attachView(FloatingMascotView& view) { view_ = &view; }
  // Runs the main loop until terminate().
  void run();

  std::vector<Rect> screens() override;
  std::optional<Rect> mainScreen() override;
  void setPanelFrame(const Rect& frame) override;
  void setPanelOrigin(Point origin) override;
  Rect panelFrame() override { return frame_; }
  std::optional<Rect> panelScreen() override;
  void orderFront() override;
  void orderOut() override;
  void setNeedsDisplay() override;
  void setNeedsDisplayInRect(const Rect& area) override;
  double now() override;
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                    std::function<void()> tick) override;
  void runAfter(double delay, std::function<void()> work) override;
  Point mouseLocation() override;
  void setCursor(Cursor cursor) override;
  void openURL(std::string_view url) override;
  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override;
  void writeLine(std::string_view line) override;
  void terminate() override;

  static void onConnectionLost(Display* display, void* self);

  bool terminated() const { return terminated_; }
  // The drawing library could not be opened: perch cannot show anything and has stopped.
  bool failed() const { return failed_; }
  // Opens the drawing library once the loop is idle, so that the first frame need not wait for it.
  void prepareDrawing();
  // Draws at once what a redraw is waiting for, if anything: a timer's tick gets its frame in its
  // own dispatch rather than one loop iteration later.
  void redrawNow();
  // While a timer ticks at animation rates the connection is read on each tick rather than
  // polled: what the server sends about each frame (its exposures, its completed upload) then
  // waits for the next tick instead of waking the loop once or twice between ticks. Counted, so
  // that timers may overlap.
  void tickingStarted();
  void tickingEnded();
  void readConnection();
  // Sends what is buffered, then handles the events Xlib has read, without reading more.
  void handleQueuedEvents();

 private:
  void createWindow();
  void startMainLoop();
  void readScreens();
  void handleEvent(_XEvent& event);
  void handlePointer(_XEvent& event);
  void trackPointer(Point viewPoint, bool inWindow);
  // Ends a press whose release will never come.
  void endPress();
  // The point of the view under a pointer event's root position.
  Point rootViewPoint(int rootX, int rootY) const;
  // Widens the window while the pointer is over the button or presses it, on Xwayland
  // (x11_wide_window.cpp).
  void widen(bool wide);
  static constexpr int kWideMargin = 256;
  void keepOnTop();
  void restack();
  void scheduleRedraw();
  void redraw();
  void applyGeometry();
  // Sends `area` of the picture to the window, or all of it.
  void showPicture(std::optional<PixelRect> area = std::nullopt);
  void watchCompositor();
  void readCompositor();
  void watchScale();
  double readScale();
  // The resource database or the XSETTINGS changed: a new scale takes effect from the next frame.
  void scaleMayHaveChanged();
  void applyShapes(const std::vector<PixelRect>& painted, bool composited, const ShownPart& part);
  // What of the panel the window shows for the frame the core last set.
  ShownPart wantedPart() const;
  Point viewPoint(int x, int y) const;
  unsigned long loadCursor(Cursor cursor);
  // A GLib timeout in whole milliseconds, never early.
  static unsigned timeoutMillis(double seconds);

  Display* display_ = nullptr;
  unsigned long window_ = 0;
  unsigned long root_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  unsigned long colormap_ = 0;
  int randrEvent_ = -1;
  int fixesEvent_ = -1;
  unsigned long compositorSelection_ = 0;  // _NET_WM_CM_Sn: owned while a compositor runs
  bool composited_ = false;
  double scale_ = 1;  // pixels a point takes
  unsigned long resourceManagerAtom_ = 0;
  unsigned long settingsAtom_ = 0;       // _XSETTINGS_SETTINGS
  unsigned long settingsSelection_ = 0;  // _XSETTINGS_Sn: owned by the settings manager
  unsigned long settingsOwner_ = 0;
  bool shapedLast_ = false;
  std::vector<PixelRect> boundingLast_;
  std::vector<PixelRect> inputLast_;
  // The drawing library's side, opened at the first need (or when the loop is first idle).
  PanelDrawing* drawing();
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

  FloatingMascotView* view_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::unique_ptr<x11_support::ConnectionSource> xSource_;
  int ticking_ = 0;  // timers that read the connection on their ticks
  guint outputWatch_ = 0;
  guint redrawIdle_ = 0;
  guint drawingIdle_ = 0;
  guint raiseTimer_ = 0;
  gint64 lastRaise_ = 0;

  std::vector<Rect> screens_;  // core space, primary first
  ScreenSpace space_;
  Rect frame_{0, 0, 56, 56};  // as the core last set it
  ShownPart shown_;           // as the window has it
  XRect screenBounds_;        // the screens' bounding box, root coordinates
  bool mapped_ = false;
  bool pointerInHitArea_ = false;
  std::optional<Point> lastPointer_;  // root coordinates
  bool buttonHeld_ = false;
  bool xwayland_ = false;
  bool widened_ = false;  // the window has transparent margins that take the pointer
  bool pinned_ = false;   // and has been put where it stays while the panel moves within it
  bool terminated_ = false;
  bool failed_ = false;
  std::map<Cursor, unsigned long> cursors_;
};

}  // namespace perch
