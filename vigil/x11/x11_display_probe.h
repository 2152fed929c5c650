// Asks the X server of $DISPLAY whether it is Xwayland: an X server run by a Wayland compositor,
// which hands an X client key events only while one of its own windows has the focus.
#pragma once

namespace vigil {

// True for Xwayland (see x11_support::isXwayland). False for any other server and when none
// answers: the X11 backend then reports why it cannot connect.
bool displayIsXwayland();

}  // namespace vigil
