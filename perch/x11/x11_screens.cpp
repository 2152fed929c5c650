// The screens: XRandR monitors, primary first, in the core's space; the root window when RandR
// has none.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>

#include "x11_mascot_platform.h"

namespace perch {

void X11MascotPlatform::readScreens() {
  std::vector<Rect> rootRects;
  int count = 0;
  XRRMonitorInfo* monitors =
      randrEvent_ >= 0 ? XRRGetMonitors(display_, root_, True, &count) : nullptr;
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = monitors[i];
    Rect r{double(m.x), double(m.y), double(m.width), double(m.height)};
    if (m.primary) {
      rootRects.insert(rootRects.begin(), r);
    } else {
      rootRects.push_back(r);
    }
  }
  if (monitors) XRRFreeMonitors(monitors);
  if (rootRects.empty()) {
    const int screen = DefaultScreen(display_);
    rootRects.push_back(
        {0, 0, double(DisplayWidth(display_, screen)), double(DisplayHeight(display_, screen))});
  }
  // The panel keeps its place on the root window while the core's space may move under it; after
  // a new scale the controller places it again.
  const Rect rootFrame = space_.toRoot(frame_);
  const bool rescaled = scale_ != space_.scale();
  space_ = ScreenSpace(rootRects.front(), scale_);
  if (!rescaled) frame_ = space_.fromRoot(rootFrame);
  screens_.clear();
  Rect box = rootRects.front();
  for (const Rect& r : rootRects) {
    screens_.push_back(space_.fromRoot(r));
    const double right = std::max(box.maxX(), r.maxX()), bottom = std::max(box.maxY(), r.maxY());
    box.x = std::min(box.x, r.x);
    box.y = std::min(box.y, r.y);
    box.width = right - box.x;
    box.height = bottom - box.y;
  }
  screenBounds_ = {int(box.x), int(box.y), unsigned(box.width), unsigned(box.height)};
  // The part of the panel on the screens may have changed with them.
  if (window_ != 0) setNeedsDisplay();
}

std::vector<Rect> X11MascotPlatform::screens() { return screens_; }

std::optional<Rect> X11MascotPlatform::mainScreen() {
  if (screens_.empty()) return std::nullopt;
  return screens_.front();
}

std::optional<Rect> X11MascotPlatform::panelScreen() {
  // The screen holding the largest part of the panel, as a window system would say.
  std::optional<Rect> best;
  double bestArea = 0;
  for (const Rect& s : screens_) {
    const Rect common = s.intersection(frame_);
    if (common.width * common.height > bestArea) {
      bestArea = common.width * common.height;
      best = s;
    }
  }
  return best;
}

}  // namespace perch
