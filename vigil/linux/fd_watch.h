// A file descriptor watched on GLib's default main context, cheaply enough for the key path.
// g_unix_fd_add() makes a source that may not recurse: GLib then takes its descriptor out of the
// poll set while its callback runs and puts it back afterwards, and each change wakes the loop
// through its own event fd, so every key would cost two more writes, a poll and a read. vigil's
// callbacks never run a loop of their own, so its watches may recurse and skip all of that.
#pragma once

#include <glib-unix.h>

namespace vigil {

// Calls `function(fd, condition, data)` whenever `condition` holds on `fd`, until it returns
// G_SOURCE_REMOVE or the returned id is removed; `destroy` (if any) then gets `data`.
guint watchFd(int fd, GIOCondition condition, GUnixFDSourceFunc function, gpointer data,
              GDestroyNotify destroy = nullptr);

}  // namespace vigil
