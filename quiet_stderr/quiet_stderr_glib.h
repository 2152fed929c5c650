#pragma once

#include "quiet_stderr.h"

namespace quiet_stderr {

// silence(), and GLib's messages, structured or not, and g_printerr() go nowhere: not even to
// the journal, and without being formatted first.
void silenceWithGLib();

}  // namespace quiet_stderr
