// The main loop: GLib's, with a source for the X connection, timers, and the end of the run.
#include <X11/Xlib.h>
#include <glib-unix.h>
#include <glib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "tick_schedule.h"
#include "x11_mascot_platform.h"

namespace perch {
namespace {

// A repeating timer on GLib's main loop, due on a fixed grid of microsecond ready times rather
// than in whole milliseconds from the last firing, so that 1/60 s stays 60 ticks a second. What a
// tick asks to redraw is drawn in the same dispatch.
struct GLibTimer final : RepeatingTimer {
  struct Source {
    GSource base;
    GLibTimer* owner;
  };
  GLibTimer(X11MascotPlatform& p, std::function<void()> t, double intervalSeconds)
      : platform(p),
        tick(std::move(t)),
        interval(intervalSeconds),
        readsConnection(intervalSeconds <= readingInterval) {
    static GSourceFuncs funcs = {nullptr, nullptr, &GLibTimer::dispatch, nullptr, nullptr, nullptr};
    source = g_source_new(&funcs, sizeof(Source));
    reinterpret_cast<Source*>(source)->owner = this;
    due = seconds(g_get_monotonic_time()) + interval;
    arm();
    g_source_attach(source, nullptr);
    if (readsConnection) platform.tickingStarted();
  }
  ~GLibTimer() override {
    if (readsConnection) platform.tickingEnded();
    g_source_destroy(source);
    g_source_unref(source);
  }
  // Timers this frequent read the connection on their ticks (input then waits at most this long).
  static constexpr double readingInterval = 1.0 / 30;
  static double seconds(gint64 us) { return static_cast<double>(us) / 1e6; }
  void arm() { g_source_set_ready_time(source, static_cast<gint64>(std::ceil(due * 1e6))); }
  static gboolean dispatch(GSource* s, GSourceFunc, gpointer) {
    GLibTimer* self = reinterpret_cast<Source*>(s)->owner;
    X11MascotPlatform& platform = self->platform;
    if (self->readsConnection) {
      // What was read may end this timer (a press that stops the animation): then no tick.
      g_source_ref(s);
      platform.readConnection();
      const bool ended = g_source_is_destroyed(s);
      g_source_unref(s);
      if (ended) {
        platform.redrawNow();
        return G_SOURCE_REMOVE;
      }
    }
    self->due = nextTickDue(self->due, seconds(g_get_monotonic_time()), self->interval);
    self->arm();
    const bool readsConnection = self->readsConnection;
    self->tick();  // the tick may end the timer: `self` is not used after it
    platform.redrawNow();
    // Sending the frame reads what has arrived: handled now, it costs no turn of the loop.
    if (readsConnection) platform.handleQueuedEvents();
    return G_SOURCE_CONTINUE;
  }
  X11MascotPlatform& platform;
  std::function<void()> tick;
  double interval;
  double due = 0;
  GSource* source = nullptr;
  bool readsConnection;
};

}  // namespace

void X11MascotPlatform::startMainLoop() {
  loop_ = g_main_loop_new(nullptr, FALSE);
  xSource_ =
      std::make_unique<x11_support::ConnectionSource>(display_, [this] { readConnection(); });
  if (ticking_ > 0) xSource_->setPolled(false);
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
  return std::make_unique<GLibTimer>(*this, std::move(tick), interval);
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

void X11MascotPlatform::readConnection() {
  // XPending reads the connection every time it is called: only once the queue is empty.
  do {
    handleQueuedEvents();
  } while (XPending(display_) > 0);
}

void X11MascotPlatform::handleQueuedEvents() {
  // Sending what is buffered may read what the server has sent meanwhile.
  XFlush(display_);
  while (XQLength(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    handleEvent(event);
  }
}

void X11MascotPlatform::tickingStarted() {
  if (ticking_++ == 0 && xSource_ != nullptr) xSource_->setPolled(false);
}

void X11MascotPlatform::tickingEnded() {
  if (--ticking_ == 0 && xSource_ != nullptr) xSource_->setPolled(true);
}

void X11MascotPlatform::onConnectionLost(Display*, void*) {
  // The server is gone and this connection can never be used again: end quietly.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace perch
