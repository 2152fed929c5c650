// The screens and the desktop's scale.
#include "x11_screens.h"

#include <X11/Xatom.h>
#include <X11/Xresource.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "desktop_scale.h"

namespace perch {
namespace {

// The whole of a window's property, or nothing.
std::optional<std::string> readProperty(Display* display, Window window, Atom property, Atom type) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, False, type, &actualType,
                         &format, &count, &after, &data) != Success) {
    return std::nullopt;
  }
  std::optional<std::string> value;
  if (data != nullptr && format == 8) value.emplace(reinterpret_cast<const char*>(data), count);
  if (data != nullptr) XFree(data);
  return value;
}

std::optional<double> resourceDpi(const std::string& resources) {
  XrmDatabase database = XrmGetStringDatabase(resources.c_str());
  if (database == nullptr) return std::nullopt;
  std::optional<double> dpi;
  char* type = nullptr;
  XrmValue value{};
  if (XrmGetResource(database, "Xft.dpi", "Xft.Dpi", &type, &value) && value.addr != nullptr) {
    const std::string text(value.addr, value.size > 0 ? value.size - 1 : 0);
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str()) dpi = parsed;
  }
  XrmDestroyDatabase(database);
  return dpi;
}

}  // namespace

X11Screens::X11Screens(const X11Connection& connection, Rect& panelFrame)
    : display_(connection.display()),
      root_(connection.root()),
      randrEvent_(connection.randrEvent()),
      fixesEvent_(connection.fixesEvent()),
      panelFrame_(panelFrame) {
  watchScale();
  read();
}

void X11Screens::read() {
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
  const Rect rootFrame = space_.toRoot(panelFrame_);
  const bool rescaled = scale_ != space_.scale();
  space_ = ScreenSpace(rootRects.front(), scale_);
  if (!rescaled) panelFrame_ = space_.fromRoot(rootFrame);
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
  bounds_ = {int(box.x), int(box.y), unsigned(box.width), unsigned(box.height)};
}

std::optional<Rect> X11Screens::panelScreen() const {
  // The screen holding the largest part of the panel, as a window system would say.
  std::optional<Rect> best;
  double bestArea = 0;
  for (const Rect& s : screens_) {
    const Rect common = s.intersection(panelFrame_);
    if (common.width * common.height > bestArea) {
      bestArea = common.width * common.height;
      best = s;
    }
  }
  return best;
}

void X11Screens::watchScale() {
  XrmInitialize();
  resourceManagerAtom_ = XInternAtom(display_, "RESOURCE_MANAGER", False);
  settingsAtom_ = XInternAtom(display_, "_XSETTINGS_SETTINGS", False);
  const std::string name = "_XSETTINGS_S" + std::to_string(DefaultScreen(display_));
  settingsSelection_ = XInternAtom(display_, name.c_str(), False);
  if (fixesEvent_ >= 0) {
    // A settings manager starting, stopping or being replaced.
    XFixesSelectSelectionInput(display_, root_, settingsSelection_,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
  }
  scale_ = readScale();
}

double X11Screens::readScale() {
  ScaleSettings settings;
  settingsOwner_ = XGetSelectionOwner(display_, settingsSelection_);
  if (settingsOwner_ != 0) {
    // Its changes come as property changes on its window.
    XSelectInput(display_, settingsOwner_, PropertyChangeMask);
    if (auto bytes = readProperty(display_, settingsOwner_, settingsAtom_, settingsAtom_)) {
      const auto* data = reinterpret_cast<const std::uint8_t*>(bytes->data());
      if (auto dpi = xsettingsInteger(data, bytes->size(), "Xft/DPI")) {
        settings.settingsDpi = *dpi / 1024.0;
      }
      if (auto factor = xsettingsInteger(data, bytes->size(), "Gdk/WindowScalingFactor")) {
        settings.windowScalingFactor = *factor;
      }
    }
  }
  if (auto resources = readProperty(display_, root_, resourceManagerAtom_, XA_STRING)) {
    settings.resourceDpi = resourceDpi(*resources);
  }
  return desktopScale(settings);
}

bool X11Screens::scaleChanged() {
  const double scale = readScale();
  if (scale == scale_) return false;
  scale_ = scale;
  return true;
}

bool X11Screens::isScaleProperty(const XPropertyEvent& event) const {
  return (event.window == root_ && event.atom == resourceManagerAtom_) ||
         (event.window == settingsOwner_ && event.atom == settingsAtom_);
}

}  // namespace perch
