#pragma once

namespace vigil {

// Nothing may reach vigil's standard error: it points at /dev/null, and GLib's messages,
// structured or not, and g_printerr() go nowhere. First thing in main().
void silenceStandardError();

}  // namespace vigil
