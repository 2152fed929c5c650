#include "line_outbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "fake_monitor_platform.h"
#include "hotkey_monitor.h"

namespace vigil {
namespace {

// The real monitor writing through an outbox to a host that reads only when told to, and then
// takes at most `chunk` bytes per write.
class StalledHostPlatform : public FakeMonitorPlatform {
 public:
  explicit StalledHostPlatform(std::size_t bound) : outbox(bound) {}

  void writeLine(std::string_view line) override {
    lines.emplace_back(line);  // what the monitor meant to say, for comparison
    outbox.push(line);
    peakBytes = std::max(peakBytes, outbox.bytes());
    flush();
  }
  FlushOutcome flush() {
    return flushOutbox(outbox, [this](std::string_view bytes) -> SinkWrite {
      if (hostClosed) return {0, true};
      const std::size_t n = std::min({bytes.size(), chunk, hostTakes});
      received.append(bytes.substr(0, n));
      hostTakes -= n;
      return {n, false};
    });
  }
  void hostReads(std::size_t bytes = SIZE_MAX) {
    hostTakes = bytes;
    flush();
  }

  LineOutbox outbox;
  std::size_t hostTakes = 0;
  std::size_t chunk = 4096;
  bool hostClosed = false;
  std::string received;
  std::size_t peakBytes = 0;
};

// Keys pressed and released at random, and now and then an interruption or, with `tapLosses`,
// the source lost: then two different "degraded" lines take turns.
void typeAtRandom(HotkeyMonitor& monitor, std::mt19937& random, int events, int disablesPerMille,
                  bool tapLosses = false) {
  std::set<std::size_t> held;
  for (int i = 0; i < events; ++i) {
    if (static_cast<int>(random() % 1000) < disablesPerMille) {
      if (tapLosses && random() % 2 == 0) {
        monitor.listeningLost("X server connection lost.");
      } else {
        monitor.listeningInterrupted();
      }
      continue;
    }
    const std::size_t k = random() % kModifierKeyCount;
    const auto key = static_cast<ModifierKey>(k);
    if (held.insert(k).second) {
      monitor.keyDown(key);
    } else {
      held.erase(k);
      monitor.keyUp(key);
    }
  }
}

// What the host makes of the lines it received: the keys it believes down, having checked that
// every line is whole, every key's lines alternate starting with "down", and no key is down at a
// "ready" (every one follows a release of all keys). The other lines are returned in order.
std::vector<std::string> readAsHost(const std::string& received, std::set<std::string>& down) {
  std::vector<std::string> others;
  EXPECT_TRUE(received.empty() || received.back() == '\n') << "a line was cut";
  std::size_t start = 0;
  for (std::size_t end; (end = received.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = received.substr(start, end - start);
    auto event = decodeEventLine(line);
    EXPECT_TRUE(event) << "not an event line: " << line;
    if (!event) continue;
    if (auto* key = std::get_if<HotkeyEvent>(&*event)) {
      const bool wasDown = down.count(key->key) > 0;
      EXPECT_EQ(wasDown, key->state == HotkeyState::up) << "out of turn: " << line;
      if (key->state == HotkeyState::down) {
        down.insert(key->key);
      } else {
        down.erase(key->key);
      }
      continue;
    }
    if (line == kReady) {
      EXPECT_TRUE(down.empty()) << "\"ready\" with keys still down";
    }
    others.push_back(line);
  }
  return others;
}

std::vector<std::string> otherThanModifiers(const std::vector<std::string>& lines) {
  std::vector<std::string> others;
  for (const std::string& line : lines) {
    auto event = decodeEventLine(line);
    if (event && !std::holds_alternative<HotkeyEvent>(*event)) others.push_back(line);
  }
  return others;
}

TEST(LineOutboxTest, LinesReachTheHostWholeAndInOrderHoweverItsPipeTakesThem) {
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
    StalledHostPlatform platform(LineOutbox::defaultBoundBytes);
    platform.chunk = chunk;
    HotkeyMonitor monitor(platform, false);
    monitor.start();
    std::mt19937 random(7);
    typeAtRandom(monitor, random, 200, 20);
    platform.hostReads();
    std::string expected;
    for (const std::string& line : platform.lines) expected += line + "\n";
    EXPECT_EQ(platform.received, expected) << "chunk " << chunk;
    EXPECT_TRUE(platform.outbox.empty());
  }
}

// The host stops reading, the user goes on typing, then the host reads again.
TEST(LineOutboxTest, StalledHostStaysBoundedAndCatchesUpWithEveryKeysTrueState) {
  const struct {
    std::size_t bound;
    int events, disablesPerMille;
    bool tapLosses;
    bool everyStatusLine;  // with few notices, every status line arrives; with a flood of them
                           // repeats of one are merged to keep the bound
  } cases[] = {
      {LineOutbox::defaultBoundBytes, 20000, 0, false, true},
      {LineOutbox::defaultBoundBytes, 20000, 1, false, true},
      {1024, 20000, 200, false, false},
      {1024, 20000, 200, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("bound " + std::to_string(c.bound) + ", notices per mille " +
                 std::to_string(c.disablesPerMille));
    StalledHostPlatform platform(c.bound);
    HotkeyMonitor monitor(platform, false);
    monitor.start();
    platform.hostReads(60);  // part of the first line: the pipe is full mid-line
    std::mt19937 random(11);
    typeAtRandom(monitor, random, c.events, c.disablesPerMille, c.tapLosses);
    EXPECT_LE(platform.peakBytes, c.bound + 512);
    platform.hostReads();

    std::set<std::string> down;
    const std::vector<std::string> others = readAsHost(platform.received, down);
    EXPECT_EQ(down, monitor.modifierKeysDown());
    EXPECT_LT(platform.received.size(), 2 * c.bound) << "nothing was collapsed";
    if (c.everyStatusLine) {
      EXPECT_EQ(others, otherThanModifiers(platform.lines));
    } else {
      EXPECT_EQ(others.back(), otherThanModifiers(platform.lines).back());
    }

    // Once caught up, lines flow one for one again.
    platform.received.clear();
    const std::size_t since = platform.lines.size();
    monitor.listeningInterrupted();
    monitor.keyDown(ModifierKey::leftShift);
    std::string expected;
    for (std::size_t i = since; i < platform.lines.size(); ++i)
      expected += platform.lines[i] + "\n";
    EXPECT_EQ(platform.received, expected);
  }
}

TEST(LineOutboxTest, HostGoneDropsWhatWaitsAndSaysSo) {
  StalledHostPlatform platform(LineOutbox::defaultBoundBytes);
  HotkeyMonitor monitor(platform, false);
  monitor.start();
  EXPECT_FALSE(platform.outbox.empty());
  platform.hostClosed = true;
  EXPECT_EQ(platform.flush(), FlushOutcome::closed);
  EXPECT_TRUE(platform.outbox.empty());
  EXPECT_EQ(platform.outbox.bytes(), 0u);
}

}  // namespace
}  // namespace vigil
