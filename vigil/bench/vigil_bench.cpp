// vigil_bench: how fast vigil reports a key, against the X server's own raw-event client.
//
// Under a private Xvfb, injects press/release pairs of left Shift through XTest and times each
// event from its injection to its line on vigil's standard output; then the same against
// `xinput test-xi2 --root` (to the end of its RawKeyPress/RawKeyRelease block) as the reference.
// Also prints vigil's CPU ticks over idle seconds and its peak RSS, and what a host that stopped
// reading gets, and what vigil holds, after many presses. vigil follows a login session of logind
// mocked on a private system bus throughout (python3-dbusmock), and the time from its start to
// "ready" is printed with that bus and with none. Prints figures, asserts none.
// VIGIL=PATH measures that binary instead of the build's own.
#include <unistd.h>

#include <algorithm>
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
#include "xtest_keyboard.h"
#include "xvfb_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Figures {
  e2e::Percentiles latency;
  size_t missed = 0;
};

// Injects `pairs` press/release pairs; `awaitEvent` returns once the event's report has arrived.
Figures timeEvents(e2e::XTestKeyboard& keyboard, int pairs,
                   const std::function<bool(bool press)>& awaitEvent) {
  std::vector<double> us;
  size_t missed = 0;
  for (int i = 0; i < pairs; ++i) {
    for (bool press : {true, false}) {
      auto start = Clock::now();
      press ? keyboard.press(50) : keyboard.release(50);
      if (!awaitEvent(press)) {
        ++missed;
        continue;
      }
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
  }
  return {e2e::percentiles(std::move(us)), missed};
}

// The median time from starting vigil to its "ready" line, over `runs` starts.
double medianStartMs(const std::string& vigilPath, const std::vector<std::string>& env, int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    e2e::ChildProcess vigil({vigilPath, "--backend", "x11"}, env);
    for (int line = 0; line < 3; ++line) vigil.readLine(5s);
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms.empty() ? 0 : ms[ms.size() / 2];
}

// A fresh vigil whose host stops reading while `pairs` press/release pairs are injected, then
// reads everything: the lines and bytes it gets, and vigil's peak RSS before and after.
void stalledHost(const std::vector<std::string>& env, e2e::XTestKeyboard& keyboard, int pairs) {
  e2e::ChildProcess vigil({VIGIL_BINARY}, env);
  for (int i = 0; i < 3; ++i) vigil.readLine();
  const std::string before = e2e::peakRss(vigil.pid());
  const unsigned keys[] = {50, 37, 64, 133, 62, 108, 134};
  for (int i = 0; i < pairs; ++i) {
    keyboard.press(keys[i % 7]);
    keyboard.release(keys[i % 7]);
  }
  keyboard.sync();
  // Until vigil has taken every event: its CPU time stands still.
  for (long ticks = -1; ticks != e2e::cpuTicks(vigil.pid());) {
    ticks = e2e::cpuTicks(vigil.pid());
    std::this_thread::sleep_for(300ms);
  }
  size_t lines = 0, bytes = 0;
  while (auto line = vigil.readLine(1s)) {
    ++lines;
    bytes += line->size() + 1;
  }
  std::printf(
      "vigil with a stalled host, %d press/release pairs (%d lines) while it did not read:\n"
      "  read afterwards %zu lines, %zu bytes; peak RSS %s before, %s after\n",
      pairs, 2 * pairs, lines, bytes, before.c_str(), e2e::peakRss(vigil.pid()).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
  std::string vigilPath = std::string(VIGIL_BINARY);
  if (const char* other = std::getenv("VIGIL")) vigilPath = other;

  e2e::XvfbServer server;
  if (!server.running()) {
    std::fprintf(stderr, "vigil_bench: Xvfb did not start\n");
    return 1;
  }
  e2e::MockLogind logind;
  const std::vector<std::string> noBus{"DISPLAY=" + server.display(),
                                       "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/bus_socket"};
  std::vector<std::string> env{"DISPLAY=" + server.display()};
  if (logind.running()) {
    env.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + logind.address());
    env.push_back(std::string("XDG_SESSION_ID=") + e2e::MockLogind::sessionId);
  }
  std::printf("session watch: %s\n", logind.running() ? "a logind session, mocked on a private bus"
                                                      : "no mock logind: vigil runs without a bus");
  e2e::XTestKeyboard keyboard(server.display());

  e2e::ChildProcess vigil({vigilPath, "--backend", "x11"}, env);  // the keys come from this Xvfb
  for (int i = 0; i < 3; ++i) vigil.readLine();                   // starting, capability, ready
  long ticksBefore = e2e::cpuTicks(vigil.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  long idleTicks = e2e::cpuTicks(vigil.pid()) - ticksBefore;

  Figures mine = timeEvents(keyboard, pairs, [&](bool) { return vigil.readLine(2s).has_value(); });
  std::string rss = e2e::peakRss(vigil.pid());
  const std::string anonymous = e2e::statusField(vigil.pid(), "RssAnon");
  const std::string fileBacked = e2e::statusField(vigil.pid(), "RssFile");

  e2e::ChildProcess xinput({"/usr/bin/xinput", "test-xi2", "--root"}, env);
  // Its device list comes first; a first event shows it is listening.
  keyboard.tap(65);
  auto awaitRaw = [&](bool press) {
    const std::string header = press ? "EVENT type 13 " : "EVENT type 14 ";
    bool inBlock = false;
    while (auto line = xinput.readLine(2s)) {
      if (line->rfind("EVENT type", 0) == 0) inBlock = line->rfind(header, 0) == 0;
      if (inBlock && line->find("detail: 50") != std::string::npos) return true;
    }
    return false;
  };
  while (auto line = xinput.readLine(2s)) {
    if (line->rfind("EVENT type 14 ", 0) == 0) break;
  }
  Figures reference = timeEvents(keyboard, pairs, awaitRaw);

  std::printf("vigil latency, injection to line, %d press/release pairs under Xvfb\n", pairs);
  for (const auto& [name, f] :
       {std::pair{"vigil", mine}, std::pair{"xinput test-xi2 --root", reference}}) {
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
  std::printf(
      "vigil start to \"ready\", median of 20: %.1f ms with logind's bus, %.1f ms with no bus\n",
      medianStartMs(vigilPath, env, 20), medianStartMs(vigilPath, noBus, 20));
  stalledHost(env, keyboard, 50000);
  return 0;
}
