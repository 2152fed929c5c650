// vigil under a private Xvfb with logind mocked on a private system bus: keys of a locked or
// inactive session are not heard, and a key held at that moment is released.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "child_process.h"
#include "mock_logind.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

std::string down(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"down"})";
}
std::string up(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"up"})";
}

constexpr unsigned kLeftShift = 50, kLeftControl = 37, kLeftAlt = 64;

class VigilSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.running()) << "Xvfb did not start";
    ASSERT_TRUE(logind.running()) << "no mock logind (python3-dbusmock, dbus-daemon)";
    ASSERT_TRUE(keyboard.connected());
  }

  void start(const std::string& sessionId) {
    vigil = std::make_unique<ChildProcess>(
        std::vector<std::string>{VIGIL_BINARY, "--backend", "x11"},
        std::vector<std::string>{"DISPLAY=" + server.display(),
                                 "DBUS_SYSTEM_BUS_ADDRESS=" + logind.address(),
                                 "XDG_SESSION_ID=" + sessionId});
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(vigil->readLine()) << "start-up line " << i;
  }

  Lines read(size_t count) {
    Lines lines;
    while (lines.size() < count) {
      auto line = vigil->readLine();
      if (!line) break;
      lines.push_back(*line);
    }
    return lines;
  }

  // Taps left Alt until vigil hears it again (it learns of the change on its own time), then
  // expects exactly its two lines: nothing typed before came through.
  void expectHeardAgain() {
    std::optional<std::string> first;
    for (int tries = 0; tries < 50 && !first; ++tries) {
      keyboard.tap(kLeftAlt);
      first = vigil->readLine(100ms);
    }
    ASSERT_TRUE(first) << "keys never flowed again";
    EXPECT_EQ(*first, down("left_alt"));
    EXPECT_EQ(read(1), Lines{up("left_alt")});
  }

  // A key held when the session goes away from the user is released at that moment; keys
  // typed meanwhile say nothing; after the return keys flow again.
  void expectSilencedAndBack(const std::function<void(bool)>& away) {
    keyboard.press(kLeftShift);
    EXPECT_EQ(read(1), Lines{down("left_shift")});
    away(true);
    EXPECT_EQ(read(1), Lines{up("left_shift")});
    keyboard.tap(kLeftControl);
    keyboard.release(kLeftShift);
    keyboard.sync();
    away(false);
    expectHeardAgain();
  }

  void TearDown() override {
    if (!vigil) return;
    vigil->kill(SIGTERM);
    EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
    EXPECT_EQ(vigil->errorOutput(), "");
  }

  e2e::XvfbServer server;
  e2e::MockLogind logind;
  e2e::XTestKeyboard keyboard{server.display()};
  std::unique_ptr<ChildProcess> vigil;
};

TEST_F(VigilSessionTest, LockAndInactiveSessionSilenceTheKeysUntilTheyEnd) {
  start(e2e::MockLogind::sessionId);
  const std::pair<const char*, std::function<void(bool)>> changes[] = {
      {"locked", [&](bool away) { logind.setLocked(away); }},
      {"inactive", [&](bool away) { logind.setActive(!away); }},
  };
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    expectSilencedAndBack(change);
  }
}

TEST_F(VigilSessionTest, WithoutASessionOfItsOwnTheUsersDisplaySessionCounts) {
  logind.makeDisplaySession();
  start("");
  expectSilencedAndBack([&](bool away) { logind.setLocked(away); });
}

TEST_F(VigilSessionTest, ASessionThatEndsSilencesTheKeys) {
  start(e2e::MockLogind::sessionId);
  // Once vigil has followed a lock, it follows the session.
  expectSilencedAndBack([&](bool away) { logind.setLocked(away); });
  keyboard.press(kLeftShift);
  EXPECT_EQ(read(1), Lines{down("left_shift")});
  logind.removeSession();
  EXPECT_EQ(read(1), Lines{up("left_shift")});
  keyboard.release(kLeftShift);
}

}  // namespace
