// Standard error kept empty: the host reads standard output only, and whatever a library would
// print there (Xlib's refusals, GLib's warnings) is noise in the host's logs. A sanitizer's report
// is the exception: in a sanitized build it still reaches whoever runs the tests.
#pragma once

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUIET_STDERR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUIET_STDERR_SANITIZED 1
#endif
#endif

namespace quiet_stderr {

// Points descriptor 2 at /dev/null for the rest of the run; in a sanitized build the sanitizer
// writes its reports to a copy of the original standard error. First thing in main().
void silence();

// silence(), and GLib's messages, structured or not, and g_printerr() go nowhere, not even to the
// journal. Not on macOS.
void silenceWithGLib();

}  // namespace quiet_stderr
