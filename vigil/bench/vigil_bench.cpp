// vigil_bench: how fast vigil reports a key, against the X server's own raw-event client.
//
// Under a private Xvfb, injects press/release pairs of left Shift through XTest and times each
// event from its injection to its line on vigil's standard output; then the same against
// `xinput test-xi2 --root` (to the end of its RawKeyPress/RawKeyRelease block) as the reference.
// Also prints vigil's CPU ticks over idle seconds and its peak RSS. Prints figures, asserts none.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Figures {
  double p50 = 0, p99 = 0;
  size_t samples = 0, missed = 0;
};

Figures summarize(std::vector<double> us, size_t missed) {
  Figures f;
  f.samples = us.size();
  f.missed = missed;
  if (us.empty()) return f;
  std::sort(us.begin(), us.end());
  f.p50 = us[us.size() / 2];
  f.p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
  return f;
}

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
  return summarize(us, missed);
}

long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(all.substr(all.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) {
      stime = std::stol(field);
      break;
    }
  }
  return utime + stime;
}

std::string peakRss(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) {
      auto value = line.substr(6);
      return value.substr(value.find_first_not_of(" \t"));
    }
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 5;
  std::string vigilPath = std::string(VIGIL_BINARY);

  e2e::XvfbServer server;
  if (!server.running()) {
    std::fprintf(stderr, "vigil_bench: Xvfb did not start\n");
    return 1;
  }
  const std::vector<std::string> env{"DISPLAY=" + server.display()};
  e2e::XTestKeyboard keyboard(server.display());

  e2e::ChildProcess vigil({vigilPath}, env);
  for (int i = 0; i < 3; ++i) vigil.readLine();  // starting, capability, ready
  long ticksBefore = cpuTicks(vigil.pid());
  std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
  long idleTicks = cpuTicks(vigil.pid()) - ticksBefore;

  Figures mine = timeEvents(keyboard, pairs, [&](bool) { return vigil.readLine(2s).has_value(); });
  std::string rss = peakRss(vigil.pid());

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
  std::printf("  %-28s p50 %8.1f us  p99 %8.1f us  (%zu samples, %zu missed)\n", "vigil", mine.p50,
              mine.p99, mine.samples, mine.missed);
  std::printf("  %-28s p50 %8.1f us  p99 %8.1f us  (%zu samples, %zu missed)\n",
              "xinput test-xi2 --root", reference.p50, reference.p99, reference.samples,
              reference.missed);
  if (reference.p50 > 0 && reference.p99 > 0) {
    std::printf("  ratio vigil/reference       p50 %8.2f     p99 %8.2f     (goal: p50 <= 1)\n",
                mine.p50 / reference.p50, mine.p99 / reference.p99);
  }
  std::printf("vigil CPU over %d idle seconds: %ld ticks (goal 0)\n", idleSeconds, idleTicks);
  std::printf("vigil peak RSS: %s\n", rss.c_str());
  return 0;
}
