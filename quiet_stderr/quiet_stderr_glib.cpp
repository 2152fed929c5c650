#include "quiet_stderr_glib.h"

#include <glib.h>

namespace quiet_stderr {

void silenceWithGLib() {
  silence();
  g_log_set_writer_func(
      [](GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; },
      nullptr, nullptr);
  g_log_set_default_handler([](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
  g_set_printerr_handler([](const gchar*) {});
}

}  // namespace quiet_stderr
