// The real vigil binary under a private Xvfb, with modifier presses injected through XTest as fast
// as the server takes them: every press and every release must come out once, in order.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>
#include <memory>
#include <string>
#include <utility>

#include "child_process.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using namespace std::chrono_literals;

std::string line(const std::string& key, const char* state) {
  return R"({"event":"modifier","key":")" + key + R"(","state":")" + state + R"("})";
}

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
  // Nothing doubled behind the last one. The server has taken every key (sync), so a late line
  // would already be on its way.
  const auto extra = vigil.readLine(1s);
  EXPECT_FALSE(extra) << "unexpected: " << *extra;

  vigil.kill(SIGTERM);
  EXPECT_TRUE(e2e::exitedCleanly(vigil.waitExit()));
  EXPECT_EQ(vigil.errorOutput(), "");
}

}  // namespace
