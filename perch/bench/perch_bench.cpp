// perch_bench: how fast perch starts and how little it costs, under a private Xvfb.
//
// Start-up: exec to the "ready" line, against the whole run of `xdpyinfo` on the same display as
// the floor for any X client. Then peak RSS, CPU ticks over idle seconds (the goal is none: no
// wake-ups while idle) and over one 3-second start feedback. Prints figures, asserts none.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "process_stats.h"
#include "xvfb_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
  e2e::XvfbServer server;
  if (!server.running()) {
    std::fprintf(stderr, "perch_bench: Xvfb did not start\n");
    return 1;
  }
  const std::vector<std::string> env{"DISPLAY=" + server.display()};

  std::vector<double> perchMs, xdpyinfoMs;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    e2e::ChildProcess perch({PERCH_BINARY}, env);
    if (perch.readLine(10s)) perchMs.push_back(millisSince(start));
    perch.closeStdin();
    perch.waitExit(5s);

    start = Clock::now();
    e2e::ChildProcess xdpyinfo({"/usr/bin/xdpyinfo"}, env);
    perch.readsEndOfOutput(0ms);
    xdpyinfo.readsEndOfOutput(10s);
    if (e2e::exitedCleanly(xdpyinfo.waitExit(10s))) xdpyinfoMs.push_back(millisSince(start));
  }
  const auto mine = e2e::percentiles(perchMs), floor = e2e::percentiles(xdpyinfoMs);
  std::printf("perch start-up, exec to \"ready\", %d runs under Xvfb\n", runs);
  std::printf("  %-22s p50 %7.2f ms  p99 %7.2f ms\n", "perch", mine.p50, mine.p99);
  std::printf("  %-22s p50 %7.2f ms  p99 %7.2f ms\n", "xdpyinfo (whole run)", floor.p50, floor.p99);
  if (floor.p50 > 0)
    std::printf("  ratio perch/xdpyinfo   p50 %7.2f     (goal: <= 2)\n", mine.p50 / floor.p50);

  e2e::ChildProcess perch({PERCH_BINARY}, env);
  perch.readLine(10s);
  perch.write("{\"command\":\"show\",\"x\":100,\"y\":100}\n");
  std::this_thread::sleep_for(500ms);
  const long idleStart = e2e::cpuTicks(perch.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  const long idleTicks = e2e::cpuTicks(perch.pid()) - idleStart;

  const long feedbackStart = e2e::cpuTicks(perch.pid());
  const auto began = Clock::now();
  perch.write("{\"command\":\"startFeedback\"}\n");
  const bool completed = perch.readLine(10s).has_value();
  const double seconds = millisSince(began) / 1000;
  const long feedbackTicks = e2e::cpuTicks(perch.pid()) - feedbackStart;
  const double share = 100.0 * feedbackTicks / (seconds * sysconf(_SC_CLK_TCK));
  std::printf("perch CPU over %d idle seconds: %ld ticks (goal 0)\n", idleSeconds, idleTicks);
  std::printf(
      "perch CPU over one start feedback (%.2f s%s): %ld ticks, %.1f%% of one core "
      "(goal < 5%%)\n",
      seconds, completed ? "" : ", no completion seen", feedbackTicks, share);
  std::printf("perch peak RSS: %s\n", e2e::peakRss(perch.pid()).c_str());
  perch.closeStdin();
  perch.waitExit(5s);
  return 0;
}
