// demo-host: a small host that wires vigil and perch together the way a real host would.
//   demo-host [--key NAME] [--script] [--shots DIR] [--bin DIR]
// Holding the key NAME (a vigil key name, default right_alt) starts perch's start feedback and
// releasing it stops it; a click on the mascot reaches a deep-link handler that this host
// registers for perch alone, which starts the feedback too; a drag's "snap" is sent back in the
// next "show". Every line either program writes is shown, prefixed with its name; what the host
// sends is shown as "to perch:". With --script it also drives the keyboard and pointer through
// XTest (for a display with nobody at it) and, with --shots, saves screenshots into DIR.
#include <fcntl.h>
#include <glib-unix.h>
#include <glib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "x_window_probe.h"
#include "xtest_keyboard.h"
#include "xtest_pointer.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kDeepLink = "halcy://voice-capture/silent?source=mascot";
constexpr int kShowX = 200, kShowY = 150;
// The idle button's centre for a "show" at (x, y) with the default 220 x 144 layout.
constexpr int kButtonFromLeft = 188, kButtonFromTop = 72;

void say(const std::string& prefix, const std::string& text) {
  std::printf("%s%s\n", prefix.c_str(), text.c_str());
  std::fflush(stdout);
}

// A child's standard output, cut into lines as it arrives.
class LineSource {
 public:
  LineSource(int fd, std::function<void(const std::string&)> onLine, std::function<void()> onEnd)
      : fd_(fd), onLine_(std::move(onLine)), onEnd_(std::move(onEnd)) {
    g_unix_set_fd_nonblocking(fd_, TRUE, nullptr);
    g_unix_fd_add(fd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &LineSource::ready,
                  this);
  }
  ~LineSource() { close(fd_); }

 private:
  static gboolean ready(gint, GIOCondition, gpointer data) {
    auto* self = static_cast<LineSource*>(data);
    char chunk[4096];
    const ssize_t got = read(self->fd_, chunk, sizeof chunk);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) return G_SOURCE_CONTINUE;
    if (got <= 0) {
      if (!self->buffer_.empty()) self->onLine_(self->buffer_);
      self->buffer_.clear();
      self->onEnd_();
      return G_SOURCE_REMOVE;
    }
    self->buffer_.append(chunk, static_cast<std::size_t>(got));
    for (std::size_t end; (end = self->buffer_.find('\n')) != std::string::npos;) {
      std::string line = self->buffer_.substr(0, end);
      self->buffer_.erase(0, end + 1);
      self->onLine_(line);
    }
    return G_SOURCE_CONTINUE;
  }

  int fd_;
  std::string buffer_;
  std::function<void(const std::string&)> onLine_;
  std::function<void()> onEnd_;
};

struct Child {
  GPid pid = 0;
  int in = -1;
  int out = -1;
};

std::optional<Child> spawn(const std::vector<std::string>& argv, char** envp) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  Child child;
  GError* error = nullptr;
  if (!g_spawn_async_with_pipes(nullptr, args.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD, nullptr,
                                nullptr, &child.pid, &child.in, &child.out, nullptr, &error)) {
    say("-- ", "cannot start " + argv[0] + ": " + error->message);
    g_error_free(error);
    return std::nullopt;
  }
  return child;
}

// The deep link's handler, for perch alone: a desktop entry for x-scheme-handler/halcy and the
// mimeapps.list that picks it, under a private XDG_DATA_HOME and XDG_CONFIG_HOME, whose command
// writes the link into a pipe this host reads. Nothing is installed for the user.
class DeepLinkStub {
 public:
  DeepLinkStub() {
    char* dir = g_dir_make_tmp("perch-demo-XXXXXX", nullptr);
    if (dir == nullptr) return;
    root_ = dir;
    g_free(dir);
    fs::create_directories(root_ / "data" / "applications");
    fs::create_directories(root_ / "config");
    const fs::path fifo = root_ / "links";
    if (mkfifo(fifo.c_str(), 0600) != 0) return;
    const fs::path handler = root_ / "deliver";
    std::ofstream(handler) << "#!/bin/sh\nprintf '%s\\n' \"$1\" > '" << fifo.string() << "'\n";
    fs::permissions(handler, fs::perms::owner_all);
    std::ofstream(root_ / "data" / "applications" / "perch-demo-link.desktop")
        << "[Desktop Entry]\nType=Application\nName=perch demo deep link\nNoDisplay=true\n"
        << "Exec=" << handler.string() << " %u\nMimeType=x-scheme-handler/halcy;\n";
    std::ofstream(root_ / "config" / "mimeapps.list")
        << "[Default Applications]\nx-scheme-handler/halcy=perch-demo-link.desktop\n";
    // Read and write, so that the pipe never reads as ended between two links.
    fd_ = open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  }
  ~DeepLinkStub() {
    if (fd_ >= 0) close(fd_);
    if (!root_.empty()) fs::remove_all(root_);
  }
  DeepLinkStub(const DeepLinkStub&) = delete;
  DeepLinkStub& operator=(const DeepLinkStub&) = delete;

  int fd() const { return fd_; }
  // perch's environment: xdg-open in its generic mode, which follows these two directories.
  char** environment() const {
    char** env = g_get_environ();
    env = g_environ_setenv(env, "XDG_DATA_HOME", (root_ / "data").c_str(), TRUE);
    env = g_environ_setenv(env, "XDG_CONFIG_HOME", (root_ / "config").c_str(), TRUE);
    env = g_environ_setenv(env, "XDG_CURRENT_DESKTOP", "X-Generic", TRUE);
    for (const char* name : {"KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID",
                             "MATE_DESKTOP_SESSION_ID", "DESKTOP_SESSION"}) {
      env = g_environ_unsetenv(env, name);
    }
    return env;
  }

 private:
  fs::path root_;
  int fd_ = -1;
};

// X key codes (evdev keyboard layout) of the keys vigil names, for the scripted run.
const std::map<std::string, unsigned> kKeyCodes = {
    {"left_shift", 50}, {"right_shift", 62},   {"left_control", 37},  {"left_alt", 64},
    {"right_alt", 108}, {"left_command", 133}, {"right_command", 134}};

struct Options {
  std::string key = "right_alt";
  bool script = false;
  std::string shots;
  std::string bin;
};

class DemoHost {
 public:
  DemoHost(Options options, GMainLoop* loop) : options_(std::move(options)), loop_(loop) {}

  bool start() {
    if (stub_.fd() < 0) {
      say("-- ", "cannot set up the deep-link handler");
      return false;
    }
    links_ = std::make_unique<LineSource>(
        dup(stub_.fd()), [this](const std::string& link) { onLink(link); }, [] {});
    char** env = g_get_environ();
    // The scripted run's keys are injected into its own X server, which only X11 hears.
    std::vector<std::string> vigilArgs{options_.bin + "/vigil"};
    if (options_.script) vigilArgs.insert(vigilArgs.end(), {"--backend", "x11"});
    auto vigil = spawn(vigilArgs, env);
    g_strfreev(env);
    char** perchEnv = stub_.environment();
    auto perch = spawn({options_.bin + "/perch"}, perchEnv);
    g_strfreev(perchEnv);
    if (!vigil || !perch) return false;
    vigil_ = *vigil;
    close(vigil_.in);
    perch_ = *perch;
    vigilLines_ = std::make_unique<LineSource>(
        vigil_.out, [this](const std::string& line) { onVigil(line); },
        [] { say("-- ", "vigil has ended"); });
    perchLines_ = std::make_unique<LineSource>(
        perch_.out, [this](const std::string& line) { onPerch(line); },
        [this] { g_main_loop_quit(loop_); });
    return true;
  }

  // Ends perch (which ends the loop) and stops vigil.
  void quit() { send(json{{"command", "quit"}}); }

  void finish() {
    if (perch_.in >= 0) close(perch_.in);  // the end of input ends perch
    if (vigil_.pid > 0) kill(vigil_.pid, SIGTERM);
    for (GPid pid : {perch_.pid, vigil_.pid}) {
      if (pid > 0) waitpid(pid, nullptr, 0);
    }
  }

 private:
  void send(const json& command) {
    const std::string line = command.dump();
    say("to perch: ", line);
    if (command["command"] == "startFeedback") ++startsSent_;
    const std::string bytes = line + "\n";
    if (write(perch_.in, bytes.data(), bytes.size()) < 0) say("-- ", "perch is gone");
  }

  void onVigil(const std::string& line) {
    say("vigil: ", line);
    json event = json::parse(line, nullptr, false);
    if (!event.is_object()) return;
    if (event.value("event", "") == "status" && !vigilSettled_) {
      vigilSettled_ = true;
      maybeStartScript();
    }
    if (event.value("event", "") == "modifier" && event.value("key", "") == options_.key) {
      send(
          json{{"command", event.value("state", "") == "down" ? "startFeedback" : "stopFeedback"}});
    }
  }

  void onPerch(const std::string& line) {
    say("perch: ", line);
    json event = json::parse(line, nullptr, false);
    if (!event.is_object()) return;
    const std::string name = event.value("event", "");
    if (name == "status") {
      show(kShowX, kShowY);
      perchReady_ = true;
      if (!options_.script) {
        say("-- ", "hold " + options_.key +
                       " for the start feedback, click the mascot, or drag it; Ctrl-C ends");
      }
      maybeStartScript();
    } else if (name == "startFeedbackComplete") {
      ++completions_;
    } else if (name == "snap" && event.value("x", json()).is_number() &&
               event.value("y", json()).is_number()) {
      // The real host keeps the place for its next "show"; here the next show comes at once.
      show(event["x"], event["y"]);
      ++snapsShown_;
    }
  }

  void onLink(const std::string& link) {
    say("link: ", link);
    if (link == kDeepLink) send(json{{"command", "startFeedback"}});
  }

  void show(const json& x, const json& y) {
    shownX_ = x.get<double>();
    shownY_ = y.get<double>();
    send(json{{"command", "show"}, {"x", x}, {"y", y}});
  }

  // The scripted run: keys and pointer through XTest, one step after another.
  void maybeStartScript() {
    if (!options_.script || scriptStarted_ || !perchReady_ || !vigilSettled_) return;
    scriptStarted_ = true;
    // A run that stalls still ends.
    g_timeout_add_seconds(
        60,
        [](gpointer data) -> gboolean {
          say("-- ", "the scripted run took over a minute; ending it");
          static_cast<DemoHost*>(data)->quit();
          return G_SOURCE_REMOVE;
        },
        this);
    const char* display = std::getenv("DISPLAY");
    keyboard_ = std::make_unique<e2e::XTestKeyboard>(display ? display : "");
    pointer_ = std::make_unique<e2e::XTestPointer>(display ? display : "");
    if (!keyboard_->connected() || !pointer_->connected()) {
      say("-- ", "cannot reach the display for the scripted run");
      quit();
      return;
    }
    auto key = kKeyCodes.find(options_.key);
    if (key == kKeyCodes.end()) {
      say("-- ", "no X key code known for " + options_.key + " in a scripted run");
      quit();
      return;
    }
    const unsigned hold = key->second;
    after(500, [this] { shot("perch-idle"); });
    after(0, [this] {
      say("script: ",
          "tap left Shift, right Shift, right Super while left Super is held, "
          "left Alt, left Control, then the letter a (which vigil never reports)");
    });
    for (auto [press, code] : std::vector<std::pair<bool, unsigned>>{{true, 50},
                                                                     {false, 50},
                                                                     {true, 62},
                                                                     {false, 62},
                                                                     {true, 133},
                                                                     {true, 134},
                                                                     {false, 134},
                                                                     {false, 133},
                                                                     {true, 64},
                                                                     {false, 64},
                                                                     {true, 37},
                                                                     {false, 37},
                                                                     {true, 38},
                                                                     {false, 38}}) {
      after(100, [this, press, code] {
        press ? keyboard_->press(code) : keyboard_->release(code);
        keyboard_->sync();
      });
    }
    after(500, [this, hold] {
      say("script: ", "hold " + options_.key);
      keyboard_->press(hold);
      keyboard_->sync();
    });
    until([this] { return startsSent_ >= 1; });
    after(1000, [this] { shot("perch-feedback"); });
    after(500, [this, hold] {
      say("script: ", "release " + options_.key);
      keyboard_->release(hold);
      keyboard_->sync();
    });
    after(700, [this] {
      say("script: ", "click the mascot");
      pointer_->moveTo(buttonX(), buttonY());
      pointer_->press();
      pointer_->release();
    });
    // On to the drag once the click's deep link has started a feedback and it has run its course.
    until([this] { return startsSent_ >= 2 && completions_ >= 1; });
    after(300, [this] {
      say("script: ", "drag the mascot 300 right and 200 down");
      pointer_->moveTo(buttonX(), buttonY());
      pointer_->press();
      pointer_->glideTo(buttonX() + 300, buttonY() + 200, 20);
      pointer_->release();
    });
    until([this] { return snapsShown_ >= 1; });
    after(500, [this] { shot("perch-moved"); });
    after(200, [this] { quit(); });
    runNextStep();
  }

  int buttonX() const { return static_cast<int>(shownX_) + kButtonFromLeft; }
  int buttonY() const { return static_cast<int>(shownY_) + kButtonFromTop; }

  void shot(const std::string& name) {
    if (options_.shots.empty()) return;
    const char* display = std::getenv("DISPLAY");
    e2e::XWindowProbe probe(display ? display : "");
    const std::string path = options_.shots + "/" + name + ".png";
    say("-- ", probe.saveScreenshot(path) ? "screenshot " + path : "no screenshot " + path);
  }

  void after(unsigned delayMs, std::function<void()> action) {
    steps_.push_back({delayMs, std::move(action), {}});
  }
  // Waits, looking every 50 ms, until `ready` holds (the run's one-minute limit bounds it).
  void until(std::function<bool()> ready) {
    steps_.push_back({50, [] {}, std::move(ready)});
  }

  void runNextStep() {
    if (nextStep_ >= steps_.size()) return;
    g_timeout_add(steps_[nextStep_].delayMs, &DemoHost::stepDue, this);
  }

  static gboolean stepDue(gpointer data) {
    auto* self = static_cast<DemoHost*>(data);
    Step& step = self->steps_[self->nextStep_];
    if (step.ready && !step.ready()) return G_SOURCE_CONTINUE;
    ++self->nextStep_;
    step.action();
    self->runNextStep();
    return G_SOURCE_REMOVE;
  }

  struct Step {
    unsigned delayMs;
    std::function<void()> action;
    std::function<bool()> ready;
  };

  Options options_;
  GMainLoop* loop_;
  DeepLinkStub stub_;
  Child vigil_, perch_;
  std::unique_ptr<LineSource> links_, vigilLines_, perchLines_;
  bool perchReady_ = false, vigilSettled_ = false, scriptStarted_ = false;
  int startsSent_ = 0, completions_ = 0, snapsShown_ = 0;
  double shownX_ = kShowX, shownY_ = kShowY;
  std::unique_ptr<e2e::XTestKeyboard> keyboard_;
  std::unique_ptr<e2e::XTestPointer> pointer_;
  std::vector<Step> steps_;
  std::size_t nextStep_ = 0;
};

std::string ownDirectory() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.bin = ownDirectory();
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--script") {
      options.script = true;
    } else if (arg == "--key" && hasValue) {
      options.key = argv[++i];
    } else if (arg == "--shots" && hasValue) {
      options.shots = argv[++i];
    } else if (arg == "--bin" && hasValue) {
      options.bin = argv[++i];
    } else {
      std::fprintf(stderr, "usage: demo-host [--key NAME] [--script] [--shots DIR] [--bin DIR]\n");
      return 2;
    }
  }
  std::signal(SIGPIPE, SIG_IGN);

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  int status = 1;
  {
    DemoHost host(options, loop);
    if (host.start()) {
      auto stop = [](gpointer data) -> gboolean {
        static_cast<DemoHost*>(data)->quit();
        return G_SOURCE_CONTINUE;
      };
      g_unix_signal_add(SIGINT, stop, &host);
      g_unix_signal_add(SIGTERM, stop, &host);
      g_main_loop_run(loop);
      status = 0;
    }
    host.finish();
  }
  g_main_loop_unref(loop);
  return status;
}
