// The main loop: GLib's, with timers, and the end of the run when the host stops listening.
#pragma once

#include <glib.h>

#include <functional>

namespace perch {

class MainLoop {
 public:
  MainLoop();
  ~MainLoop();
  MainLoop(const MainLoop&) = delete;
  MainLoop& operator=(const MainLoop&) = delete;

  // Runs until quit().
  void run();
  void quit();
  bool ended() const { return ended_; }
  static double now();
  static void runAfter(double delay, std::function<void()> work);

 private:
  GMainLoop* loop_;
  guint outputWatch_ = 0;
  bool ended_ = false;
};

// A GLib timeout in whole milliseconds, never early.
unsigned timeoutMillis(double seconds);

}  // namespace perch
