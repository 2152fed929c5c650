// vigil_kernel_bench: how fast vigil reports a key read from the kernel's input devices, against
// evtest reading the same device in the same run. Runs as root on a kernel with uinput and udevd
// (scripts/vm-test.sh --bench runs it in a virtual machine):
//   vigil_kernel_bench VIGIL [PAIRS] [IDLE_SECONDS]
// Writes press/release pairs of left Shift to a uinput keyboard and times each from the write to
// vigil's line, then to evtest's line for the same event; also vigil's CPU ticks over idle
// seconds and its peak RSS. vigil follows a login session of logind mocked on a private system
// bus (python3-dbusmock) throughout. Prints figures, asserts none.
#include <linux/input.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "mock_logind.h"
#include "process_stats.h"
#include "uinput_keyboard.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Figures {
  e2e::Percentiles latency;
  size_t missed = 0;
};

// Writes `pairs` press/release pairs; `awaitEvent` returns once the event's report has arrived.
Figures timeEvents(e2e::UinputKeyboard& keyboard, int pairs,
                   const std::function<bool(bool press)>& awaitEvent) {
  std::vector<double> us;
  size_t missed = 0;
  for (int i = 0; i < pairs; ++i) {
    for (bool press : {true, false}) {
      auto start = Clock::now();
      keyboard.send(KEY_LEFTSHIFT, press ? 1 : 0);
      if (!awaitEvent(press)) {
        ++missed;
        continue;
      }
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  return {e2e::percentiles(std::move(us)), missed};
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
  e2e::ChildProcess vigil({vigilPath}, env);
  for (int i = 0; i < 3; ++i) vigil.readLine(10s);  // starting, capability, ready
  if (!e2e::eventually([&] { return e2e::holdsOpen(vigil.pid(), keyboard.devnode()); }, 10s)) {
    std::fprintf(stderr, "vigil_kernel_bench: vigil did not open %s\n", keyboard.devnode().c_str());
    return 1;
  }
  long ticksBefore = e2e::cpuTicks(vigil.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  long idleTicks = e2e::cpuTicks(vigil.pid()) - ticksBefore;
  Figures mine = timeEvents(keyboard, pairs, [&](bool) { return vigil.readLine(2s).has_value(); });
  std::string rss = e2e::peakRss(vigil.pid());
  const std::string anonymous = e2e::statusField(vigil.pid(), "RssAnon");
  const std::string fileBacked = e2e::statusField(vigil.pid(), "RssFile");
  vigil.kill(SIGTERM);
  vigil.waitExit();

  // evtest writes through stdio: line-buffered, each event reaches the pipe as it is printed.
  e2e::ChildProcess evtest({"/usr/bin/stdbuf", "-oL", "/usr/bin/evtest", keyboard.devnode()});
  // Its description of the device comes first, then "Testing ... (interrupt to exit)".
  while (auto line = evtest.readLine(10s)) {
    if (line->rfind("Testing", 0) == 0) break;
  }
  auto awaitKey = [&](bool press) {
    const std::string wanted = press ? "(KEY_LEFTSHIFT), value 1" : "(KEY_LEFTSHIFT), value 0";
    while (auto line = evtest.readLine(2s)) {
      if (line->find(wanted) != std::string::npos) return true;
    }
    return false;
  };
  Figures reference = timeEvents(keyboard, pairs, awaitKey);

  std::printf(
      "vigil latency on the kernel's input devices, uinput write to line, %d press/release"
      " pairs\n",
      pairs);
  for (const auto& [name, f] : {std::pair{"vigil", mine}, std::pair{"evtest", reference}}) {
    std::printf("  %-28s p50 %8.1f us  p99 %8.1f us  (%zu samples, %zu missed)\n", name,
                f.latency.p50, f.latency.p99, f.latency.samples, f.missed);
  }
  if (reference.latency.p50 > 0 && reference.latency.p99 > 0) {
    std::printf("  ratio vigil/reference       p50 %8.2f     p99 %8.2f     (goal: p50 <= 1)\n",
                mine.latency.p50 / reference.latency.p50, mine.latency.p99 / reference.latency.p99);
  }
  std::printf("vigil CPU over %d idle seconds: %ld ticks (goal 0)\n", idleSeconds, idleTicks);
  std::printf("vigil peak RSS: %s (goal at most 8192 kB); now %s its own, %s of libraries\n",
              rss.c_str(), anonymous.c_str(), fileBacked.c_str());
  return 0;
}
