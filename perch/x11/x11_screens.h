// The screens: XRandR monitors, primary first, in the core's space (the root window when RandR
// has none), and the desktop's scale, the pixels a point takes: read from the resource database
// on the root window (RESOURCE_MANAGER, which xrdb writes) and from the XSETTINGS manager's
// settings, and read again whenever either changes, or the manager comes or goes.
#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <vector>

#include "geometry.h"
#include "screen_space.h"
#include "x11_connection.h"

namespace perch {

class X11Screens {
 public:
  // `panelFrame`, the core's, keeps its place on the root window when the screens change (not
  // when the scale does: the core then places the panel again).
  X11Screens(const X11Connection& connection, Rect& panelFrame);

  // Reads the monitors again.
  void read();
  // Reads the scale again; whether it changed. It takes effect at the next read().
  bool scaleChanged();
  // Whether an event about a selection or a property is one about the scale's settings.
  bool isSettingsSelection(Atom selection) const { return selection == settingsSelection_; }
  bool isScaleProperty(const XPropertyEvent& event) const;

  const std::vector<Rect>& screens() const { return screens_; }
  std::optional<Rect> panelScreen() const;
  const ScreenSpace& space() const { return space_; }
  // The screens' bounding box, root coordinates.
  const XRect& bounds() const { return bounds_; }

 private:
  void watchScale();
  double readScale();

  Display* display_;
  Window root_;
  int randrEvent_;
  int fixesEvent_;
  Rect& panelFrame_;
  double scale_ = 1;
  Atom resourceManagerAtom_ = 0;
  Atom settingsAtom_ = 0;       // _XSETTINGS_SETTINGS
  Atom settingsSelection_ = 0;  // _XSETTINGS_Sn: owned by the settings manager
  Window settingsOwner_ = 0;
  std::vector<Rect> screens_;  // core space, primary first
  ScreenSpace space_;
  XRect bounds_;
};

}  // namespace perch
