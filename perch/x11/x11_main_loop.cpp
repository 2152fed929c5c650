// The main loop: GLib's, with a source for the X connection, timers, and the end of the run.
#include "x11_main_loop.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "tick_schedule.h"
#include "x11_connection.h"
#include "x11_panel_picture.h"

namespace perch {
namespace {

struct GLibTimer final : RepeatingTimer {
  struct Source {
    GSource base;
    GLibTimer* owner;
  };
  GLibTimer(X11Connection& c, X11PanelPicture& p, std::function<void()> t, double intervalSeconds)
      : connection(c),
        picture(p),
        tick(std::move(t)),
        interval(intervalSeconds),
        readsConnection(intervalSeconds <= readingInterval) {
    static GSourceFuncs funcs = {nullptr, nullptr, &GLibTimer::dispatch, nullptr, nullptr, nullptr};
    source = g_source_new(&funcs, sizeof(Source));
    reinterpret_cast<Source*>(source)->owner = this;
    due = seconds(g_get_monotonic_time()) + interval;
    arm();
    g_source_attach(source, nullptr);
    if (readsConnection) connection.tickingStarted();
  }
  ~GLibTimer() override {
    if (readsConnection) connection.tickingEnded();
    g_source_destroy(source);
    g_source_unref(source);
  }
  // Timers this frequent read the connection on their ticks (input then waits at most this long).
  static constexpr double readingInterval = 1.0 / 30;
  static double seconds(gint64 us) { return static_cast<double>(us) / 1e6; }
  void arm() { g_source_set_ready_time(source, static_cast<gint64>(std::ceil(due * 1e6))); }
  static gboolean dispatch(GSource* s, GSourceFunc, gpointer) {
    GLibTimer* self = reinterpret_cast<Source*>(s)->owner;
    X11Connection& connection = self->connection;
    X11PanelPicture& picture = self->picture;
    if (self->readsConnection) {
      // What was read may end this timer (a press that stops the animation): then no tick.
      g_source_ref(s);
      connection.read();
      const bool ended = g_source_is_destroyed(s);
      g_source_unref(s);
      if (ended) {
        picture.redrawNow();
        return G_SOURCE_REMOVE;
      }
    }
    self->due = nextTickDue(self->due, seconds(g_get_monotonic_time()), self->interval);
    self->arm();
    const bool readsConnection = self->readsConnection;
    self->tick();  // the tick may end the timer: `self` is not used after it
    picture.redrawNow();
    // Sending the frame reads what has arrived: handled now, it costs no turn of the loop.
    if (readsConnection) connection.handleQueuedEvents();
    return G_SOURCE_CONTINUE;
  }
  X11Connection& connection;
  X11PanelPicture& picture;
  std::function<void()> tick;
  double interval;
  double due = 0;
  GSource* source = nullptr;
  bool readsConnection;
};

}  // namespace

X11MainLoop::X11MainLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {
  // The host closing our standard output ends the run: nobody would hear us any more.
  outputWatch_ = g_unix_fd_add(
      STDOUT_FILENO, static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP),
      [](gint, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<X11MainLoop*>(data);
        self->outputWatch_ = 0;
        self->quit();
        return G_SOURCE_REMOVE;
      },
      this);
}

X11MainLoop::~X11MainLoop() {
  if (outputWatch_ != 0) g_source_remove(outputWatch_);
  g_main_loop_unref(loop_);
}

std::unique_ptr<RepeatingTimer> startTicking(X11Connection& connection, X11PanelPicture& picture,
                                             double interval, std::function<void()> tick) {
  return std::make_unique<GLibTimer>(connection, picture, std::move(tick), interval);
}

unsigned timeoutMillis(double seconds) {
  return static_cast<guint>(std::max(0.0, std::ceil(seconds * 1000 - 1e-9)));
}

double X11MainLoop::now() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

void X11MainLoop::runAfter(double delay, std::function<void()> work) {
  auto* heap = new std::function<void()>(std::move(work));
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, timeoutMillis(delay),
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

void X11MainLoop::quit() {
  ended_ = true;
  g_main_loop_quit(loop_);
}

void X11MainLoop::run() {
  if (!ended_) g_main_loop_run(loop_);
}

}  // namespace perch
