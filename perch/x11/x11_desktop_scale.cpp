// The desktop's scale: read from the resource database on the root window (RESOURCE_MANAGER,
// which xrdb writes) and from the XSETTINGS manager's settings, and read again whenever either
// changes, or the manager comes or goes.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xresource.h>
#include <X11/extensions/Xfixes.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "desktop_scale.h"
#include "floating_mascot_view.h"
#include "x11_mascot_platform.h"

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

void X11MascotPlatform::watchScale() {
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

double X11MascotPlatform::readScale() {
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

void X11MascotPlatform::scaleMayHaveChanged() {
  const double scale = readScale();
  if (scale == scale_) return;
  scale_ = scale;
  // A press under way measured its pointer in the old points: it ends here, a drag where it took
  // the panel.
  endPress();
  pointerInHitArea_ = false;
  readScreens();  // the screens in the new points
  // The panel is placed again from the host's corner, in the new points: where the next "show"
  // would put it.
  if (view_ != nullptr) view_->screensChanged();
  setNeedsDisplay();
}

}  // namespace perch
