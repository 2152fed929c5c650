#include "fd_watch.h"

namespace vigil {

guint watchFd(int fd, GIOCondition condition, GUnixFDSourceFunc function, gpointer data,
              GDestroyNotify destroy) {
  GSource* source = g_unix_fd_source_new(fd, condition);
  g_source_set_can_recurse(source, TRUE);
  g_source_set_callback(source, G_SOURCE_FUNC(function), data, destroy);
  const guint id = g_source_attach(source, nullptr);
  g_source_unref(source);
  return id;
}

}  // namespace vigil
