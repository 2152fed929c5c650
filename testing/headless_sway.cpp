#include "headless_sway.h"

#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace e2e {
namespace {

constexpr const char* kSway = "/usr/bin/sway";
constexpr const char* kXwayland = "/usr/bin/Xwayland";
constexpr const char* kSetpriv = "/usr/bin/setpriv";

// The parent and the command line of a process, from /proc.
bool readProcess(pid_t pid, pid_t* parent, std::vector<std::string>* argv) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(text.substr(close + 2));
  char state = 0;
  rest >> state >> *parent;
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
  argv->clear();
  for (std::string arg; std::getline(cmdline, arg, '\0');) argv->push_back(arg);
  return true;
}

bool descendsFrom(pid_t pid, pid_t ancestor) {
  for (int depth = 0; depth < 16 && pid > 1; ++depth) {
    pid_t parent = 0;
    std::vector<std::string> argv;
    if (!readProcess(pid, &parent, &argv)) return false;
    if (parent == ancestor) return true;
    pid = parent;
  }
  return false;
}

}  // namespace

std::string HeadlessSway::unavailableReason(const std::string& user) {
  if (access(kSway, X_OK) != 0) return "no sway (Debian package sway)";
  if (access(kXwayland, X_OK) != 0) return "no Xwayland (Debian package xwayland)";
  if (access(kSetpriv, X_OK) != 0) return "no setpriv (Debian package util-linux)";
  if (geteuid() != 0) return "not root: sway must run as another user";
  if (getpwnam(user.c_str()) == nullptr) return "no user " + user;
  return "";
}

HeadlessSway::HeadlessSway(const std::string& user, const std::string& outerDisplay) : user_(user) {
  const passwd* account = getpwnam(user.c_str());
  if (account == nullptr) return;
  char pattern[] = "/tmp/headless-sway.XXXXXX";
  if (mkdtemp(pattern) == nullptr) return;
  root_ = pattern;
  chmod(root_.c_str(), 0755);
  for (const char* dir : {"/home", "/run"}) {
    std::string path = root_ + dir;
    mkdir(path.c_str(), 0700);
    if (chown(path.c_str(), account->pw_uid, account->pw_gid) != 0) return;
  }
  std::ofstream(root_ + "/config") << "xwayland force\n";
  // Everything the child needs is made before fork: it only redirects and executes.
  std::vector<std::string> argv = asUser();
  for (std::string arg : {std::string("/usr/bin/env"), std::string("-i"), "HOME=" + root_ + "/home",
                          "XDG_RUNTIME_DIR=" + root_ + "/run", std::string("PATH=/usr/bin:/bin")}) {
    argv.push_back(arg);
  }
  if (outerDisplay.empty()) {
    argv.push_back("WLR_BACKENDS=headless");
  } else {
    argv.push_back("WLR_BACKENDS=x11");
    argv.push_back("DISPLAY=" + outerDisplay);
  }
  for (std::string arg :
       {std::string("WLR_LIBINPUT_NO_DEVICES=1"), std::string("WLR_RENDERER=pixman"),
        std::string(kSway), std::string("-c"), root_ + "/config"}) {
    argv.push_back(arg);
  }
  std::vector<char*> args;
  for (std::string& arg : argv) args.push_back(arg.data());
  args.push_back(nullptr);
  const std::string log = root_ + "/log";
  pid_ = fork();
  if (pid_ == 0) {
    FILE* out = freopen(log.c_str(), "w", stdout);
    if (out != nullptr) dup2(fileno(out), STDERR_FILENO);
    execv(args[0], args.data());
    _exit(127);
  }
}

HeadlessSway::~HeadlessSway() {
  if (pid_ > 0) {
    // Sway takes its Xwayland down with it.
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  if (!root_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
}

std::string HeadlessSway::waitForXwayland(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return "";
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return "";
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
      const std::string name = entry.path().filename();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      pid_t pid = std::stoi(name), parent = 0;
      std::vector<std::string> argv;
      if (!readProcess(pid, &parent, &argv) || argv.size() < 2) continue;
      if (std::filesystem::path(argv[0]).filename() != "Xwayland") continue;
      if (argv[1].empty() || argv[1][0] != ':' || !descendsFrom(pid, pid_)) continue;
      // Sway listens on the display's socket for Xwayland: clients may connect at once.
      return argv[1];
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

std::vector<std::string> HeadlessSway::asUser() const {
  const passwd* account = getpwnam(user_.c_str());
  if (account == nullptr) return {"/bin/false"};
  return {kSetpriv, "--reuid=" + std::to_string(account->pw_uid),
          "--regid=" + std::to_string(account->pw_gid), "--clear-groups", "--"};
}

std::string HeadlessSway::logTail() const {
  std::ifstream log(root_ + "/log");
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  return text.size() > 2000 ? text.substr(text.size() - 2000) : text;
}

}  // namespace e2e
