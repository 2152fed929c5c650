// The connection: its extensions, and reading and handing on its events.
#include "x11_connection.h"

#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "tick_schedule.h"
#include "xwayland.h"

namespace perch {
namespace {

struct GLibTimer final : RepeatingTimer {
  struct Source {
    GSource base;
    GLibTimer* owner;
  };
  GLibTimer(X11Connection& c, std::function<void()> t, std::function<void()> d,
            double intervalSeconds)
      : connection(c),
        tick(std::move(t)),
        drawNow(std::move(d)),
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
    // Kept here: what is read, or the tick, may end the timer.
    const std::function<void()> drawNow = self->drawNow;
    if (self->readsConnection) {
      // What was read may end this timer (a press that stops the animation): then no tick.
      g_source_ref(s);
      connection.read();
      const bool ended = g_source_is_destroyed(s);
      g_source_unref(s);
      if (ended) {
        drawNow();
        return G_SOURCE_REMOVE;
      }
    }
    self->due = nextTickDue(self->due, seconds(g_get_monotonic_time()), self->interval);
    self->arm();
    const bool readsConnection = self->readsConnection;
    self->tick();  // the tick may end the timer: `self` is not used after it
    drawNow();
    // Sending the frame reads what has arrived: handled now, it costs no turn of the loop.
    if (readsConnection) connection.handleQueuedEvents();
    return G_SOURCE_CONTINUE;
  }
  X11Connection& connection;
  std::function<void()> tick;
  std::function<void()> drawNow;
  double interval;
  double due = 0;
  GSource* source = nullptr;
  bool readsConnection;
};

}  // namespace

X11Connection::X11Connection(Display* display, std::function<void(XEvent&)> handleEvent)
    : display_(display), root_(DefaultRootWindow(display)), handleEvent_(std::move(handleEvent)) {
  XSetIOErrorExitHandler(display_, &X11Connection::onConnectionLost, this);
  int error = 0;
  if (XRRQueryExtension(display_, &randrEvent_, &error)) {
    XRRSelectInput(display_, root_,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randrEvent_ = -1;
  }
  // Other windows mapping or restacking over the panel: it is raised again. The root's own
  // ConfigureNotify also comes when monitors are redefined (RandR 1.5 sends no event of its own).
  // Its property changes carry the resource database (xrdb), which holds the desktop's scale.
  XSelectInput(display_, root_, SubstructureNotifyMask | StructureNotifyMask | PropertyChangeMask);
  int major = 5, minor = 0;
  // Selection events need XFixes 1 and input shapes 2; the version must be asked for first.
  if (!XFixesQueryExtension(display_, &fixesEvent_, &error) ||
      !XFixesQueryVersion(display_, &major, &minor) || major < 2) {
    fixesEvent_ = -1;
  }
  xwayland_ = x11_support::isXwayland(display_);
  source_ = std::make_unique<x11_support::ConnectionSource>(display_, [this] { read(); });
}

X11Connection::~X11Connection() {
  source_.reset();
  XCloseDisplay(display_);
}

void X11Connection::read() {
  // Each call sends what is buffered and reads the connection once (a system call, whether or not
  // anything came): once, and again only after events were handled.
  while (XEventsQueued(display_, QueuedAfterFlush) > 0) {
    do {
      XEvent event;
      XNextEvent(display_, &event);
      handleEvent_(event);
    } while (XQLength(display_) > 0);
  }
}

void X11Connection::handleQueuedEvents() {
  // Sending what is buffered may read what the server has sent meanwhile.
  XFlush(display_);
  while (XQLength(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    handleEvent_(event);
  }
}

void X11Connection::tickingStarted() {
  if (ticking_++ == 0) source_->setPolled(false);
}

void X11Connection::tickingEnded() {
  if (--ticking_ == 0) source_->setPolled(true);
}

std::unique_ptr<RepeatingTimer> X11Connection::startTicking(double interval,
                                                            std::function<void()> tick,
                                                            std::function<void()> drawNow) {
  return std::make_unique<GLibTimer>(*this, std::move(tick), std::move(drawNow), interval);
}

void X11Connection::onConnectionLost(Display*, void*) {
  // The server is gone and this connection can never be used again: end quietly.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace perch
