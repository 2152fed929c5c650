// The panel's window: an override-redirect window (never managed, never focused, on every
// workspace) with a 32-bit ARGB visual where one exists. Created once, moved and resized, mapped
// and unmapped, kept in its place in the stack, cut to what it paints; it follows whether a
// compositor runs, and on Xwayland it is widened under the pointer.
#pragma once

#include <X11/Xlib.h>
#include <glib.h>

#include <functional>
#include <vector>

#include "geometry.h"
#include "screen_space.h"
#include "x11_connection.h"
#include "x11_screens.h"

namespace perch {

class X11PanelWindow {
 public:
  // `frame` is the panel's as the core last set it.
  X11PanelWindow(const X11Connection& connection, const X11Screens& screens, const Rect& frame);
  ~X11PanelWindow();
  X11PanelWindow(const X11PanelWindow&) = delete;
  X11PanelWindow& operator=(const X11PanelWindow&) = delete;

  Window id() const { return window_; }
  Visual* visual() const { return visual_; }
  int depth() const { return depth_; }
  Colormap colormap() const;
  bool composited() const { return composited_; }
  void readCompositor();
  bool mapped() const { return mapped_; }

  // What of the panel the window shows for the frame the core last set.
  ShownPart wantedPart() const;
  // What it shows now.
  const ShownPart& shown() const { return shown_; }
  void applyGeometry();
  // The window's bounding shape cut to `painted` where no compositor runs, and its input shape to
  // `painted` and the pixels of `hitArea` (view points).
  void applyShapes(const std::vector<PixelRect>& painted, bool composited, const ShownPart& part,
                   const Rect& hitArea);

  // Raises the window; or, unmapped, maps it in its place once `drawFirst` has drawn and shaped it.
  void orderFront(const std::function<void()>& drawFirst);
  void orderOut();
  // Another window mapped or restacked.
  void keepOnTop();

  // Widens the window (on Xwayland alone); whether that changed its size.
  bool widen(bool wide);
  bool widened() const { return widened_; }

 private:
  void createWindow();
  void restack();
  void watchCompositor();
  static constexpr int kWideMargin = 256;

  Display* display_;
  Window root_;
  int fixesEvent_;
  bool xwayland_;
  const X11Screens& screens_;
  const Rect& frame_;
  Window window_ = 0;
  Visual* visual_ = nullptr;
  int depth_ = 0;
  Colormap colormap_ = 0;
  Atom compositorSelection_ = 0;  // _NET_WM_CM_Sn: owned while a compositor runs
  bool composited_ = false;
  ShownPart shown_;  // as the window has it
  bool mapped_ = false;
  bool widened_ = false;  // the window has transparent margins that take the pointer
  bool pinned_ = false;   // and has been put where it stays while the panel moves within it
  bool shapedLast_ = false;
  std::vector<PixelRect> boundingLast_;
  std::vector<PixelRect> inputLast_;
  guint raiseTimer_ = 0;
  gint64 lastRaise_ = 0;
};

}  // namespace perch
