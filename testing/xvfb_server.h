// A private X server for one test suite: Xvfb on a free display number, started with -noreset so
// that a client leaving does not reset the server under the next one.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

class XvfbServer {
 public:
  // Starts Xvfb with one screen of the given size; extra arguments go on its command line.
  explicit XvfbServer(const std::string& screen = "1280x800x24",
                      const std::vector<std::string>& extraArgs = {});
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool running() const { return pid_ > 0 && !display_.empty(); }
  const std::string& display() const { return display_; }  // ":N"
  pid_t pid() const { return pid_; }
  // Ends the server at once (SIGKILL) and reaps it.
  void kill();

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace e2e
