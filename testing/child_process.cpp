#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace e2e {

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, Output output) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    return;
  }
  if (output == Output::readerGone) {
    close(out[0]);
    out[0] = -1;
  }
  pid_ = fork();
  if (pid_ == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
}

ChildProcess::~ChildProcess() {
  if (!status_ && pid_ > 0) {
    ::kill(pid_, SIGKILL);
    waitExit(5000ms);
  }
  for (int fd : {in_, out_, err_}) {
    if (fd >= 0) close(fd);
  }
}

bool ChildProcess::fill(std::chrono::steady_clock::time_point deadline) {
  if (eof_ || out_ < 0) return false;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  pollfd p{out_, POLLIN, 0};
  int ready = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
  if (ready <= 0) return false;
  char chunk[65536];
  ssize_t n = read(out_, chunk, sizeof chunk);
  if (n <= 0) {
    eof_ = true;
    return false;
  }
  // Lines handed out are dropped here, once per read rather than once per line: a long backlog
  // would otherwise be moved again for every line taken from its front.
  buffer_.erase(0, consumed_);
  consumed_ = 0;
  buffer_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto nl = buffer_.find('\n', consumed_);
    if (nl != std::string::npos) {
      std::string line = buffer_.substr(consumed_, nl - consumed_);
      consumed_ = nl + 1;
      return line;
    }
    if (!fill(deadline)) return std::nullopt;
  }
}

bool ChildProcess::readsEndOfOutput(std::chrono::milliseconds timeout, std::string* unexpected) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!eof_) {
    if (!fill(deadline) && !eof_) break;
  }
  buffer_.erase(0, consumed_);
  consumed_ = 0;
  if (unexpected) *unexpected = buffer_;
  return eof_ && buffer_.empty();
}

std::string ChildProcess::errorOutput() {
  std::string all;
  char chunk[4096];
  ssize_t n;
  while (err_ >= 0 && (n = read(err_, chunk, sizeof chunk)) > 0) all.append(chunk, n);
  return all;
}

bool ChildProcess::write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void ChildProcess::closeStdin() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

void ChildProcess::closeStdout() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds timeout) {
  if (status_) return status_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = status;
      return status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    // Polling the child's state: there is no descriptor to wait on for it.
    std::this_thread::sleep_for(5ms);
  }
}

void ChildProcess::kill(int signal) {
  if (!status_ && pid_ > 0) ::kill(pid_, signal);
}

bool exitedCleanly(std::optional<int> status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

}  // namespace e2e
