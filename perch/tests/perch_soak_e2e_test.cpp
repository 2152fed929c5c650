// A randomized soak of the real perch binary under a private Xvfb: thousands of commands whose
// positions and sizes come from the whole range of doubles, interleaved with hides, feedbacks,
// pointer presses, drags and releases through XTest, and a compositor coming and going. At
// checkpoints an in-range "show" must put the idle square where the placement says; at the end
// perch still carries out a feedback, never wrote to standard error, stayed small, and exits 0.
//
// PERCH_SOAK_COMMANDS sets the number of commands (default 3000), PERCH_SOAK_SEED the seed
// (default 1); scripts/fuzz.sh runs a longer soak with another seed.
#include <gtest/gtest.h>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xlib.h>
#include <sys/stat.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "child_process.h"
#include "process_stats.h"
#include "x_window_probe.h"
#include "xtest_pointer.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::WindowGeometry;
using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
// ASan's shadow memory, quarantine and redzones come on top of what perch itself holds.
constexpr long kPeakRssLimitKiB = 160 * 1024;
#else
constexpr long kPeakRssLimitKiB = 64 * 1024;
#endif
constexpr int kScreenWidth = 1280, kScreenHeight = 800;

long envNumber(const char* name, long fallback) {
  const char* value = std::getenv(name);
  const long number = value ? std::atol(value) : 0;
  return number > 0 ? number : fallback;
}

class Draws {
 public:
  explicit Draws(std::uint64_t seed) : rng_(seed) {}
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  double uniform(double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(rng_);
  }
  // Any double a host could send: huge, tiny, negative, denormal, past 2^16 and 2^32, or plain.
  double wild() {
    const double sign = below(2) ? -1 : 1;
    switch (below(9)) {
      case 0:
        return sign * std::pow(10.0, uniform(5, 308));
      case 1:
        return sign * std::pow(10.0, -uniform(1, 307));
      case 2:
        return sign * std::numeric_limits<double>::denorm_min() * (1 + below(1000));
      case 3:
        return sign * (4294967296.0 + below(100000));
      case 4:
        return sign * (65536.0 + below(2000));
      case 5:
        return sign * std::numeric_limits<double>::max();
      case 6:
        return sign * 1e308;
      case 7:
        return -0.0;
      default:
        return uniform(-2000, 3000);
    }
  }
  double position() { return below(2) ? uniform(0, 1200) : wild(); }
  double size() {
    if (below(3) == 0) return wild();
    return uniform(60, 400);
  }

 private:
  std::mt19937_64 rng_;
};

std::string line(const nlohmann::json& j) { return j.dump() + "\n"; }

// Where the idle square of a "show" at (x, y) with that size stands on the one 1280 x 800 screen:
// centred on the expanded layout's button, 10 from its right and 50 from its bottom.
WindowGeometry idleSquare(int x, int y, int w, int h) {
  return {x + w - 10 - 22 - 28, y + h - 50 - 22 - 28, 56, 56, true, true};
}

TEST(PerchSoakTest, ThousandsOfWildCommandsAndPointerMovesLeaveItAnswering) {
  std::signal(SIGPIPE, SIG_IGN);
  const long commands = envNumber("PERCH_SOAK_COMMANDS", 3000);
  const long seed = envNumber("PERCH_SOAK_SEED", 1);
  e2e::XvfbServer server(std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) +
                         "x24");
  ASSERT_TRUE(server.running());

  // Clicks open the deep link: a stand-in opener keeps thousands of them cheap.
  char dirTemplate[] = "/tmp/perch-soak-XXXXXX";
  ASSERT_TRUE(mkdtemp(dirTemplate));
  const std::string dir = dirTemplate;
  std::ofstream(dir + "/xdg-open") << "#!/bin/sh\nexit 0\n";
  chmod((dir + "/xdg-open").c_str(), 0755);
  const char* asan = std::getenv("ASAN_OPTIONS");
  ChildProcess perch({PERCH_BINARY},
                     {"DISPLAY=" + server.display(), "PATH=" + dir + ":/usr/bin:/bin",
                      std::string("ASAN_OPTIONS=") + (asan ? std::string(asan) + ":" : "") +
                          "quarantine_size_mb=16"});
  ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");

  // A window that perch destroys (or a perch that dies) between the probe's requests is no reason
  // to end the test: the checks say what went wrong.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  e2e::XWindowProbe probe(server.display());
  e2e::XTestPointer pointer(server.display());
  ASSERT_TRUE(pointer.connected());
  std::unique_ptr<ChildProcess> compositor;
  Draws draw(static_cast<std::uint64_t>(seed));
  bool pressed = false;
  const auto release = [&] {
    if (pressed) pointer.release();
    pressed = false;
  };
  // An in-range show, with the feedback stopped and the button up: the idle square stands where
  // the placement says. A drag still being read may move it once more, so the show is sent again
  // until the square settles there.
  const auto checkpoint = [&](long step) {
    release();
    // Sizes and places that keep the idle square wholly on the screen.
    const int w = 60 + draw.below(300), h = 100 + draw.below(200);
    const int x = draw.below(kScreenWidth - w), y = draw.below(kScreenHeight - h);
    WindowGeometry want = idleSquare(x, y, w, h);
    const auto placed = [&](const WindowGeometry& g) {
      return g.viewable && g.x == want.x && g.y == want.y && g.width == 56 && g.height == 56;
    };
    std::optional<WindowGeometry> g;
    for (int attempt = 0; attempt < 3 && !g; ++attempt) {
      ASSERT_TRUE(
          perch.write(line({{"command", "stopFeedback"}}) +
                      line({{"command", "show"}, {"x", x}, {"y", y}, {"width", w}, {"height", h}})))
          << "perch stopped reading at step " << step;
      g = probe.waitFor("perch", placed, 2000);
    }
    EXPECT_TRUE(g) << "step " << step << ": show " << x << "," << y << " " << w << "x" << h;
    {  // A panel placed far off the screen stays off it. Whole multiples of 2^16 plus a little:
       // cut to 16 bits, each would land on the screen.
      const double far =
          draw.below(8) == 0
              ? 1e308
              : (draw.below(2) ? 1 : -1) * 65536.0 * (1 + draw.below(70000)) + draw.below(1000);
      ASSERT_TRUE(perch.write(line({{"command", "show"}, {"x", far}, {"y", y}})));
      const auto off = [](const WindowGeometry& g) {
        return !g.viewable || g.x >= kScreenWidth || g.x + int(g.width) <= 0 ||
               g.y >= kScreenHeight || g.y + int(g.height) <= 0;
      };
      EXPECT_TRUE(probe.waitFor("perch", off, 2000))
          << "step " << step << ": a show at x = " << far << " stands on the screen";
    }
  };

  const auto started = std::chrono::steady_clock::now();
  for (long step = 0; step < commands; ++step) {
    if (step % 100 == 99) checkpoint(step);
    if (HasFatalFailure()) return;
    const int choice = draw.below(100);
    std::string text;
    if (choice < 40) {
      nlohmann::json show = {{"command", "show"}};
      for (const char* key : {"x", "y"}) {
        if (draw.below(5)) show[key] = draw.position();
      }
      for (const char* key : {"width", "height"}) {
        if (draw.below(3)) show[key] = draw.size();
      }
      text = line(show);
    } else if (choice < 48) {
      text = line({{"command", "hide"}});
    } else if (choice < 60) {
      text = line({{"command", "startFeedback"}});
    } else if (choice < 66) {
      text = line({{"command", "stopFeedback"}});
    } else if (choice < 76) {
      // A press aimed at the mascot where it stands now, or anywhere.
      release();
      auto g = probe.poll("perch");
      if (g && g->viewable && draw.below(4)) {
        pointer.moveTo(g->x + int(g->width) - 1 - draw.below(56),
                       g->y + int(g->height) - 1 - draw.below(56));
      } else {
        pointer.moveTo(draw.below(kScreenWidth), draw.below(kScreenHeight));
      }
      pointer.press();
      pressed = true;
    } else if (choice < 90) {
      pointer.glideTo(draw.below(kScreenWidth), draw.below(kScreenHeight), 1 + draw.below(8));
    } else if (choice < 98) {
      release();
    } else if (choice == 98 || step == 0) {
      if (compositor) {
        compositor->kill(SIGTERM);
        EXPECT_TRUE(compositor->waitExit(5s));
        compositor.reset();
      } else {
        compositor =
            std::make_unique<ChildProcess>(std::vector<std::string>{"/usr/bin/xcompmgr"},
                                           std::vector<std::string>{"DISPLAY=" + server.display()});
      }
    } else {
      text = line({{"command", draw.below(2) ? "show" : "bogus"}, {"x", "far"}});  // dropped
    }
    if (!text.empty()) {
      ASSERT_TRUE(perch.write(text)) << "perch stopped reading at step " << step << " (wait status "
                                     << perch.waitExit(1s).value_or(-1) << ") after " << text;
    }
  }
  release();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("perch soak: %ld commands, seed %ld, %.1f s\n", commands, seed, seconds);

  // Still answering: a last show and feedback while the bare pointer sweeps the screen; a press
  // left tracked would drag the mascot along and stop the feedback.
  checkpoint(commands);
  ASSERT_TRUE(perch.write(line({{"command", "show"}, {"x", 300}, {"y", 200}}) +
                          line({{"command", "startFeedback"}})));
  const auto expanded = [](const WindowGeometry& g) {
    return g.viewable && g.x == 300 && g.y == 200 && g.width == 220 && g.height == 144;
  };
  EXPECT_TRUE(probe.waitFor("perch", expanded));
  pointer.moveTo(0, 0);
  pointer.glideTo(kScreenWidth - 1, kScreenHeight - 1, 20);
  std::optional<std::string> event;
  do {
    event = perch.readLine(5s);  // snaps from earlier drags may come first
  } while (event && *event != R"({"event":"startFeedbackComplete"})");
  EXPECT_TRUE(event) << "no completion after the soak";
  const WindowGeometry idle = idleSquare(300, 200, 220, 144);
  const auto back = [&](const WindowGeometry& g) {
    return g.viewable && g.x == idle.x && g.y == idle.y && g.width == 56 && g.height == 56;
  };
  EXPECT_TRUE(probe.waitFor("perch", back)) << "the mascot moved with the bare pointer";

  const std::string peak = e2e::peakRss(perch.pid());
  std::printf("perch soak peak RSS: %s\n", peak.c_str());
  EXPECT_LT(std::atol(peak.c_str()), kPeakRssLimitKiB) << peak;
  perch.closeStdin();
  while (perch.readLine(5s)) {
  }
  EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit(10s)));
  EXPECT_EQ(perch.errorOutput(), "");
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
