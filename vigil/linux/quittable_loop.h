// GLib's main loop for a backend's run, with a quit that is kept when it comes before the run
// starts: a host that goes away during start-up (its first line meets a closed pipe) ends the
// run as soon as the loop would begin, instead of the request being lost.
#pragma once

#include <glib.h>

namespace vigil {

class QuittableLoop {
 public:
  QuittableLoop() : loop_(g_main_loop_new(nullptr, FALSE)) {}
  ~QuittableLoop() { g_main_loop_unref(loop_); }
  QuittableLoop(const QuittableLoop&) = delete;
  QuittableLoop& operator=(const QuittableLoop&) = delete;

  // Runs GLib's default main context until quit(), unless quit() came first.
  void run() {
    if (!quitRequested_) g_main_loop_run(loop_);
  }
  // Whether quit() was called: for a backend that drives the context itself.
  bool quitRequested() const { return quitRequested_; }
  void quit() {
    quitRequested_ = true;
    g_main_loop_quit(loop_);
  }

 private:
  GMainLoop* loop_;
  bool quitRequested_ = false;
};

}  // namespace vigil
