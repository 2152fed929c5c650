// The real vigil binary under a private Xvfb, with modifier presses injected through XTest as fast
// as the server takes them: every press and every release must come out once, in order.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "child_process.h"
#include "process_stats.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using namespace std::chrono_literals;

std::string line(const std::string& key, const char* state) {
  return R"({"event":"modifier","key":")" + key + R"(","state":")" + state + R"("})";
}

// X key codes of the tracked keys on Xvfb's keyboard.
const std::pair<unsigned, std::string> kKeys[] = {
    {50, "left_shift"},  {37, "left_control"}, {64, "left_alt"},      {133, "left_command"},
    {62, "right_shift"}, {108, "right_alt"},   {134, "right_command"}};

TEST(VigilLoadTest, TenThousandPressReleasePairsGiveTwentyThousandLinesInOrder) {
  constexpr int kPairs = 10000;
  // X key codes of the tracked keys on Xvfb's keyboard, taken in turn.
  const std::pair<unsigned, std::string> keys[] = {
      {50, "left_shift"},  {37, "left_control"}, {64, "left_alt"},      {133, "left_command"},
      {62, "right_shift"}, {108, "right_alt"},   {134, "right_command"}};
  constexpr int kKeys = static_cast<int>(std::size(keys));

  e2e::XvfbServer server;
  ASSERT_TRUE(server.running());
  ChildProcess vigil({VIGIL_BINARY, "--backend", "x11"}, {"DISPLAY=" + server.display()});
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(vigil.readLine()) << "start-up line " << i;

  // Injected from a thread of its own while this one reads, so neither side waits on the other.
  auto injector = std::async(std::launch::async, [&] {
    e2e::XTestKeyboard keyboard(server.display());
    if (!keyboard.connected()) return false;
    for (int i = 0; i < kPairs; ++i) {
      keyboard.press(keys[i % kKeys].first);
      keyboard.release(keys[i % kKeys].first);
    }
    keyboard.sync();
    return true;
  });

  int matched = 0;
  std::string mismatch;
  for (int i = 0; i < 2 * kPairs && mismatch.empty(); ++i) {
    const std::string& key = keys[(i / 2) % kKeys].second;
    const std::string expected = line(key, i % 2 == 0 ? "down" : "up");
    const auto got = vigil.readLine(10s);
    if (!got) {
      mismatch = "nothing";
    } else if (*got != expected) {
      mismatch = *got;
    } else {
      ++matched;
    }
    if (!mismatch.empty())
      mismatch = "line " + std::to_string(i) + ": expected " + expected + ", got " + mismatch;
  }
  ASSERT_TRUE(injector.get()) << "cannot inject keys";
  EXPECT_EQ(matched, 2 * kPairs) << mismatch;
  // Nothing doubled behind the last one: one more key, pressed after all of them, comes next.
  e2e::XTestKeyboard keyboard(server.display());
  keyboard.press(keys[0].first);
  keyboard.release(keys[0].first);
  keyboard.sync();
  EXPECT_EQ(vigil.readLine(), line(keys[0].second, "down"));
  EXPECT_EQ(vigil.readLine(), line(keys[0].second, "up"));

  vigil.kill(SIGTERM);
  EXPECT_TRUE(e2e::exitedCleanly(vigil.waitExit()));
  EXPECT_EQ(vigil.errorOutput(), "");
}

}  // namespace

namespace {

// The user types on while the host has stopped reading; then the host reads again.
class StalledHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.running());
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(vigil.readLine()) << "start-up line " << i;
    ASSERT_TRUE(keyboard.connected());
  }
  // Far more lines than the pipe and vigil's outbox hold, ending with left Shift and right Alt
  // held down.
  void typeWhileNobodyReads() {
    for (int i = 0; i < kPairs; ++i) {
      const unsigned keycode = kKeys[i % std::size(kKeys)].first;
      keyboard.press(keycode);
      keyboard.release(keycode);
    }
    keyboard.press(50);
    keyboard.press(108);
    keyboard.sync();
    // Until vigil has taken every event the server queued for it: its CPU time stands still.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (long before = -1, now = e2e::cpuTicks(vigil.pid());
         now != before && std::chrono::steady_clock::now() < deadline;
         before = now, now = e2e::cpuTicks(vigil.pid())) {
      std::this_thread::sleep_for(300ms);
    }
  }

  static constexpr int kPairs = 12000;  // 24,000 lines, about 1.3 MB
  e2e::XvfbServer server;
  ChildProcess vigil{{VIGIL_BINARY}, {"DISPLAY=" + server.display()}};
  e2e::XTestKeyboard keyboard{server.display()};
};

TEST_F(StalledHostTest, ReadingAgainEndsInEveryKeysTrueStateFromABoundedBacklog) {
  typeWhileNobodyReads();
  std::map<std::string, std::string> last;  // key -> its last state, "down" or "up"
  std::string outOfTurn;
  std::size_t lines = 0, bytes = 0;
  while (auto got = vigil.readLine(2s)) {
    ++lines;
    bytes += got->size() + 1;
    for (const auto& [code, name] : kKeys) {
      const bool isDown = *got == line(name, "down");
      if (!isDown && *got != line(name, "up")) continue;
      const bool wasDown = last[name] == "down";
      if (isDown == wasDown && outOfTurn.empty()) outOfTurn = *got;
      last[name] = isDown ? "down" : "up";
    }
  }
  EXPECT_EQ(outOfTurn, "") << "a key's lines do not alternate down, up";
  std::map<std::string, std::string> expected;
  for (const auto& [code, name] : kKeys) expected[name] = "up";
  expected["left_shift"] = expected["right_alt"] = "down";
  for (const auto& [name, state] : expected) {
    EXPECT_EQ(last[name].empty() ? "up" : last[name], state) << name;
  }
  // The pipe's 64 KiB and the outbox's 256 KiB at most.
  EXPECT_LT(bytes, 512u * 1024) << "the lines were not collapsed";

  // Caught up: the next lines come at once.
  keyboard.release(50);
  keyboard.release(108);
  keyboard.sync();
  EXPECT_EQ(vigil.readLine(), line("left_shift", "up"));
  EXPECT_EQ(vigil.readLine(), line("right_alt", "up"));
  vigil.kill(SIGTERM);
  EXPECT_TRUE(e2e::exitedCleanly(vigil.waitExit()));
  EXPECT_EQ(vigil.errorOutput(), "");
}

TEST_F(StalledHostTest, VigilStillEndsAtOnceOnSigtermWhileTheHostIsStalled) {
  typeWhileNobodyReads();
  vigil.kill(SIGTERM);
  EXPECT_TRUE(e2e::exitedCleanly(vigil.waitExit(3s))) << "vigil waits on its host";
  EXPECT_EQ(vigil.errorOutput(), "");
}

}  // namespace
