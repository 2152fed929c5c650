// A program under test, started with its standard input and output on pipes that the test holds.
// Every wait has a deadline, so a program that misbehaves fails the test instead of hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

class ChildProcess {
 public:
  // Where the program's standard output goes: a pipe the test reads, or a pipe whose reading end
  // is already closed when the program starts (a host that went away before it wrote a line).
  enum class Output { piped, readerGone };

  // `env` entries ("NAME=value") are added to this process's environment.
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
               Output output = Output::piped);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The next line of standard output without its line feed; nothing at the deadline or at EOF.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 5000ms);
  // Whether standard output reaches its end (the program closed it or exited) before the deadline,
  // with no further line; a line that arrives instead is kept in `unexpected`.
  bool readsEndOfOutput(std::chrono::milliseconds timeout, std::string* unexpected = nullptr);
  // Everything standard error carried, once the program has exited.
  std::string errorOutput();

  bool write(const std::string& bytes);
  void closeStdin();
  void closeStdout();

  // The exit status (as waitpid gives it) if the program ends before the deadline.
  std::optional<int> waitExit(std::chrono::milliseconds timeout = 5000ms);
  void kill(int signal);

 private:
  bool fill(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  std::string buffer_;
  std::size_t consumed_ = 0;  // bytes at the front of buffer_ already handed out as lines
  bool eof_ = false;
  std::optional<int> status_;
};

// The exit status when it is a normal exit with code 0.
bool exitedCleanly(std::optional<int> status);

}  // namespace e2e
