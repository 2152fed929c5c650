#include "main_loop.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace perch {

MainLoop::MainLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {
  // The host closing our standard output ends the run: nobody would hear us any more.
  outputWatch_ = g_unix_fd_add(
      STDOUT_FILENO, static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP),
      [](gint, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<MainLoop*>(data);
        self->outputWatch_ = 0;
        self->quit();
        return G_SOURCE_REMOVE;
      },
      this);
}

MainLoop::~MainLoop() {
  if (outputWatch_ != 0) g_source_remove(outputWatch_);
  g_main_loop_unref(loop_);
}

unsigned timeoutMillis(double seconds) {
  return static_cast<guint>(std::max(0.0, std::ceil(seconds * 1000 - 1e-9)));
}

double MainLoop::now() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

void MainLoop::runAfter(double delay, std::function<void()> work) {
  auto* heap = new std::function<void()>(std::move(work));
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, timeoutMillis(delay),
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void MainLoop::quit() {
  ended_ = true;
  g_main_loop_quit(loop_);
}

void MainLoop::run() {
  if (!ended_) g_main_loop_run(loop_);
}

}  // namespace perch
