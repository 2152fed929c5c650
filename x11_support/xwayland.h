// Whether an X server is Xwayland: an X server run by a Wayland compositor, which hands X clients
// the pointer and keys only over their own windows. Both programs ask it: vigil to choose its
// backend, perch to keep a drag's pointer. No GLib, no toolkit: Xlib and RandR alone.
#pragma once

typedef struct _XDisplay Display;

namespace x11_support {

// True for Xwayland: the XWAYLAND extension (newer servers), or RandR outputs named XWAYLAND0,
// XWAYLAND1, ... (servers without it, such as Debian 12's).
bool isXwayland(Display* display);

}  // namespace x11_support
