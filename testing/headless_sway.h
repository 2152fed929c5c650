// A private headless sway (wlroots' headless backend, pixman rendering, no input devices) with
// Xwayland started at once, run as an unprivileged user because sway refuses to run as root.
// Nested instead in a window of an outer X server (wlroots' X11 backend), it has that server's
// pointer and keyboard: what they do there reaches sway's clients as a real mouse's would.
// Its home and runtime directory are fresh temporary ones owned by that user. The user is taken
// on with setpriv, which executes in place: sway is this process's own child, ended and reaped
// here (runuser would stay in between, and leave its child unreaped when signalled).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace e2e {

class HeadlessSway {
 public:
  // Why a sway session cannot be had here (not root, no sway or Xwayland, no such user), or "".
  static std::string unavailableReason(const std::string& user = "nobody");

  explicit HeadlessSway(const std::string& user = "nobody", const std::string& outerDisplay = "");
  ~HeadlessSway();
  HeadlessSway(const HeadlessSway&) = delete;
  HeadlessSway& operator=(const HeadlessSway&) = delete;

  // The Xwayland display sway started (":N"), waiting for it up to the deadline; "" if none.
  std::string waitForXwayland(std::chrono::milliseconds timeout = std::chrono::seconds(15));
  // The end of sway's log, for a failure message.
  std::string logTail() const;
  const std::string& user() const { return user_; }
  // A command line's beginning that runs the rest as this user, with no supplementary groups.
  std::vector<std::string> asUser() const;

 private:
  std::string user_;
  std::string root_;
  pid_t pid_ = -1;
};

}  // namespace e2e
