// The main loop: GLib's, with a source for the X connection, timers, and the end of the run.
#include <X11/Xlib.h>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "x11_mascot_platform.h"

namespace perch {
namespace {

struct GLibTimer final : RepeatingTimer {
  explicit GLibTimer(std::function<void()> t) : tick(std::move(t)) {}
  ~GLibTimer() override { g_source_remove(id); }
  std::function<void()> tick;
  guint id = 0;
};

}  // namespace

struct X11MascotPlatform::XSource {
  GSource base;
  X11MascotPlatform* owner;
  gpointer fdTag;
};

void X11MascotPlatform::startMainLoop() {
  loop_ = g_main_loop_new(nullptr, FALSE);
  static GSourceFuncs funcs = {&X11MascotPlatform::prepareX,
                               &X11MascotPlatform::checkX,
                               &X11MascotPlatform::dispatchX,
                               nullptr,
                               nullptr,
                               nullptr};
  xSource_ = g_source_new(&funcs, sizeof(XSource));
  auto* xsource = reinterpret_cast<XSource*>(xSource_);
  xsource->owner = this;
  xsource->fdTag = g_source_add_unix_fd(xSource_, ConnectionNumber(display_),
                                        static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_attach(xSource_, nullptr);
  // The host closing our standard output ends the run: nobody would hear us any more.
  outputWatch_ = g_unix_fd_add(
      STDOUT_FILENO, static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP),
      [](gint, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<X11MascotPlatform*>(data);
        self->outputWatch_ = 0;
        self->terminate();
        return G_SOURCE_REMOVE;
      },
      this);
}

unsigned X11MascotPlatform::timeoutMillis(double seconds) {
  return static_cast<guint>(std::max(0.0, std::ceil(seconds * 1000 - 1e-9)));
}

double X11MascotPlatform::now() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

std::unique_ptr<RepeatingTimer> X11MascotPlatform::scheduleRepeating(double interval,
                                                                     std::function<void()> tick) {
  auto timer = std::make_unique<GLibTimer>(std::move(tick));
  timer->id = g_timeout_add(
      std::max(1u, static_cast<guint>(std::lround(interval * 1000))),
      [](gpointer data) -> gboolean {
        static_cast<GLibTimer*>(data)->tick();
        return G_SOURCE_CONTINUE;
      },
      timer.get());
  return timer;
}

void X11MascotPlatform::runAfter(double delay, std::function<void()> work) {
  auto* heap = new std::function<void()>(std::move(work));
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, timeoutMillis(delay),
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void X11MascotPlatform::terminate() {
  terminated_ = true;
  g_main_loop_quit(loop_);
}

void X11MascotPlatform::run() {
  if (!terminated_) g_main_loop_run(loop_);
}

gboolean X11MascotPlatform::prepareX(GSource* source, gint* timeout) {
  Display* display = reinterpret_cast<XSource*>(source)->owner->display_;
  *timeout = -1;
  XFlush(display);
  // Events Xlib has already read would never wake poll(): dispatch them before waiting.
  return XQLength(display) > 0;
}

gboolean X11MascotPlatform::checkX(GSource* source) {
  auto* xsource = reinterpret_cast<XSource*>(source);
  if (XQLength(xsource->owner->display_) > 0) return TRUE;
  return g_source_query_unix_fd(source, xsource->fdTag) != 0;
}

gboolean X11MascotPlatform::dispatchX(GSource* source, GSourceFunc, gpointer) {
  X11MascotPlatform* self = reinterpret_cast<XSource*>(source)->owner;
  while (XPending(self->display_) > 0) {
    XEvent event;
    XNextEvent(self->display_, &event);
    self->handleEvent(event);
  }
  return G_SOURCE_CONTINUE;
}

void X11MascotPlatform::onConnectionLost(Display*, void*) {
  // The server is gone and this connection can never be used again: end quietly.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace perch
