// perch's standard error stays empty whatever its libraries would say: the host reads nothing
// there, and a warning on it is noise in the host's logs.
#pragma once

namespace perch {

// Points descriptor 2 at /dev/null and gives GLib's logging a writer that drops every message.
// Sanitizer reports still reach the original standard error. Call first thing in main.
void silenceStandardError();

}  // namespace perch
