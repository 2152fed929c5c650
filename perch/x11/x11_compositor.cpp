// Whether a compositor runs: the owner of the _NET_WM_CM_Sn selection, followed through XFixes.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <string>

#include "x11_mascot_platform.h"

namespace perch {

void X11MascotPlatform::watchCompositor() {
  int error = 0, major = 5, minor = 0;
  // Selection events need XFixes 1 and input shapes 2; the version must be asked for first.
  if (!XFixesQueryExtension(display_, &fixesEvent_, &error) ||
      !XFixesQueryVersion(display_, &major, &minor) || major < 2) {
    fixesEvent_ = -1;
    return;
  }
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
  compositorSelection_ = XInternAtom(display_, name.c_str(), False);
  // A compositor starting or stopping changes the selection's owner: the window follows live.
  XFixesSelectSelectionInput(display_, root_, compositorSelection_,
                             XFixesSetSelectionOwnerNotifyMask |
                                 XFixesSelectionWindowDestroyNotifyMask |
                                 XFixesSelectionClientCloseNotifyMask);
  readCompositor();
}

void X11MascotPlatform::readCompositor() {
  composited_ = XGetSelectionOwner(display_, compositorSelection_) != 0;
}

}  // namespace perch
