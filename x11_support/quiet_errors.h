// Xlib's default error handlers print to standard error and end the process with status 1. Both
// programs keep standard error empty and end with status 0, dealing with errors where they see
// them instead.
#pragma once

namespace x11_support {

// For the whole process: a failed request is ignored, and a lost connection prints nothing before
// the display's exit handler (XSetIOErrorExitHandler) runs. Before the first XOpenDisplay.
void quietXErrors();

}  // namespace x11_support
