// vigil_kernel_bench: how fast vigil reports a key read from the kernel's input devices, against
// evtest reading the same device in the same run. Runs as root on a kernel with uinput and udevd
// (scripts/vm-test.sh --bench runs it in a virtual machine):
//   vigil_kernel_bench VIGIL [PAIRS] [IDLE_SECONDS]
// Writes press/release pairs of left Shift to a uinput keyboard and times each from the write to
// the program's line for it: half the pairs with vigil, all with evtest, the other half with a
// fresh vigil, so that a drift over the run (the host's load, warming caches) weighs on both
// alike. Each line is checked as it is timed; whatever else a program writes for the event is
// read after the clock stops. Also vigil's CPU ticks over idle seconds and its peak RSS. vigil
// follows a login session of logind mocked on a private system bus (python3-dbusmock)
// throughout. Prints figures, asserts none.
#include <linux/input.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "mock_logind.h"
#include "process_stats.h"
#include "uinput_keyboard.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Figures {
  std::vector<double> us;
  size_t missed = 0;
};

// Writes `pairs` press/release pairs; `awaitLine` returns once the event's line has arrived (or
// false at a timeout), `afterLine` then reads the rest of what the program wrote for it, untimed.
void timeEvents(e2e::UinputKeyboard& keyboard, int pairs, Figures& figures,
                const std::function<bool(bool press)>& awaitLine,
                const std::function<void()>& afterLine) {
  for (int i = 0; i < pairs; ++i) {
    for (bool press : {true, false}) {
      auto start = Clock::now();
      keyboard.send(KEY_LEFTSHIFT, press ? 1 : 0);
      if (!awaitLine(press)) {
        ++figures.missed;
        continue;
      }
      figures.us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      afterLine();
    }
  }
}

struct VigilRun {
  long idleTicks = 0;
  std::string rss, anonymous, fileBacked;
};

// Starts vigil, waits until it holds the keyboard open, leaves it idle for `idleSeconds` (its
// session watch settles meanwhile) and counts its CPU ticks then, times `pairs` pairs, and
// measures its memory before ending it. False when it never got ready.
bool timeVigil(const std::string& path, const std::vector<std::string>& env,
               e2e::UinputKeyboard& keyboard, int pairs, int idleSeconds, Figures& figures,
               VigilRun& run) {
  e2e::ChildProcess vigil({path}, env);
  for (int i = 0; i < 3; ++i) vigil.readLine(10s);  // starting, capability, ready
  if (!e2e::eventually([&] { return e2e::holdsOpen(vigil.pid(), keyboard.devnode()); }, 10s)) {
    return false;
  }
  long ticksBefore = e2e::cpuTicks(vigil.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  run.idleTicks = e2e::cpuTicks(vigil.pid()) - ticksBefore;
  const std::string down = R"({"event":"modifier","key":"left_shift","state":"down"})";
  const std::string up = R"({"event":"modifier","key":"left_shift","state":"up"})";
  timeEvents(
      keyboard, pairs, figures,
      [&](bool press) {
        auto line = vigil.readLine(2s);
        return line && *line == (press ? down : up);
      },
      [] {});
  run.rss = e2e::peakRss(vigil.pid());
  run.anonymous = e2e::statusField(vigil.pid(), "RssAnon");
  run.fileBacked = e2e::statusField(vigil.pid(), "RssFile");
  vigil.kill(SIGTERM);
  vigil.waitExit();
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s VIGIL [PAIRS] [IDLE_SECONDS]\n", argv[0]);
    return 2;
  }
  const std::string vigilPath = argv[1];
  const int pairs = argc > 2 ? std::atoi(argv[2]) : 1000;
  const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 3;

  e2e::UinputKeyboard keyboard("vigil bench keyboard", e2e::UinputKeyboard::fullKeyboard());
  if (!keyboard.created() ||
      !e2e::eventually([&] { return e2e::setUpByUdev(keyboard.devnode()); }, 10s)) {
    std::fprintf(stderr, "vigil_kernel_bench: no uinput keyboard set up by udev\n");
    return 1;
  }

  e2e::MockLogind logind;
  std::vector<std::string> env;
  if (logind.running()) {
    env = {"DBUS_SYSTEM_BUS_ADDRESS=" + logind.address(),
           std::string("XDG_SESSION_ID=") + e2e::MockLogind::sessionId};
  }
  std::printf("session watch: %s\n", logind.running() ? "a logind session, mocked on a private bus"
                                                      : "no mock logind: vigil runs without a bus");
  Figures mine, reference;
  VigilRun first, second;
  if (!timeVigil(vigilPath, env, keyboard, pairs / 2, idleSeconds, mine, first)) {
    std::fprintf(stderr, "vigil_kernel_bench: vigil did not open %s\n", keyboard.devnode().c_str());
    return 1;
  }
  {
    // evtest writes through stdio: line-buffered, each event reaches the pipe as it is printed,
    // its key line first, then the frame's end.
    e2e::ChildProcess evtest({"/usr/bin/stdbuf", "-oL", "/usr/bin/evtest", keyboard.devnode()});
    // Its description of the device comes first, then "Testing ... (interrupt to exit)".
    while (auto line = evtest.readLine(10s)) {
      if (line->rfind("Testing", 0) == 0) break;
    }
    timeEvents(
        keyboard, pairs, reference,
        [&](bool press) {
          const std::string wanted =
              press ? "(KEY_LEFTSHIFT), value 1" : "(KEY_LEFTSHIFT), value 0";
          while (auto line = evtest.readLine(2s)) {
            if (line->find(wanted) != std::string::npos) return true;
          }
          return false;
        },
        [&] {
          while (auto line = evtest.readLine(2s)) {
            if (line->find("SYN_REPORT") != std::string::npos) break;
          }
        });
  }
  if (!timeVigil(vigilPath, env, keyboard, pairs - pairs / 2, idleSeconds, mine, second)) {
    std::fprintf(stderr, "vigil_kernel_bench: vigil did not open %s\n", keyboard.devnode().c_str());
    return 1;
  }

  std::printf(
      "vigil latency on the kernel's input devices, uinput write to line, %d press/release"
      " pairs\n",
      pairs);
  const e2e::Percentiles vigilLatency = e2e::percentiles(mine.us);
  const e2e::Percentiles evtestLatency = e2e::percentiles(reference.us);
  for (const auto& [name, latency, missed] :
       {std::tuple{"vigil", vigilLatency, mine.missed},
        std::tuple{"evtest", evtestLatency, reference.missed}}) {
    std::printf("  %-28s p50 %8.1f us  p99 %8.1f us  (%zu samples, %zu missed)\n", name,
                latency.p50, latency.p99, latency.samples, missed);
  }
  if (evtestLatency.p50 > 0 && evtestLatency.p99 > 0) {
    std::printf("  ratio vigil/reference       p50 %8.2f     p99 %8.2f     (goal: p50 <= 1)\n",
                vigilLatency.p50 / evtestLatency.p50, vigilLatency.p99 / evtestLatency.p99);
  }
  std::printf("vigil CPU over %d idle seconds: %ld ticks (goal 0)\n", idleSeconds, first.idleTicks);
  std::printf("vigil peak RSS: %s (goal at most 8192 kB); now %s its own, %s of libraries\n",
              first.rss.c_str(), first.anonymous.c_str(), first.fileBacked.c_str());
  return 0;
}
