// The real vigil binary under a private Xvfb: keys injected through XTest by key code, lines read
// from its standard output.
#include <gtest/gtest.h>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "child_process.h"
#include "xtest_keyboard.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kStarting = R"({"event":"status","state":"starting"})";
const std::string kCapability =
    R"({"event":"capability","platform":"linux","supportsFn":false,"supportsModifierOnly":true,)"
    R"("requiresAccessibilityPermission":false})";
const std::string kReady = R"({"event":"status","state":"ready"})";

std::string down(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"down"})";
}
std::string up(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"up"})";
}

// The X11 backend by name: the keys come from this Xvfb, whatever session runs the tests. There
// is no system bus: vigil cannot tell whose session it is, and hears every key without a word.
std::unique_ptr<ChildProcess> startVigil(const std::string& display) {
  return std::make_unique<ChildProcess>(
      std::vector<std::string>{VIGIL_BINARY, "--backend", "x11"},
      std::vector<std::string>{"DISPLAY=" + display,
                               "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/system_bus_socket"});
}

Lines readLines(ChildProcess& vigil, size_t count) {
  Lines lines;
  while (lines.size() < count) {
    auto line = vigil.readLine();
    if (!line) break;
    lines.push_back(*line);
  }
  return lines;
}

class VigilTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new e2e::XvfbServer(); }
  static void TearDownTestSuite() { delete server; }

  void SetUp() override {
    ASSERT_TRUE(server->running()) << "Xvfb did not start";
    keyboard = std::make_unique<e2e::XTestKeyboard>(server->display());
    ASSERT_TRUE(keyboard->connected());
    vigil = startVigil(server->display());
    ASSERT_EQ(readLines(*vigil, 3), (Lines{kStarting, kCapability, kReady}));
  }

  void TearDown() override {
    vigil->kill(SIGTERM);
    EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
    EXPECT_EQ(vigil->errorOutput(), "");
  }

  static e2e::XvfbServer* server;
  std::unique_ptr<e2e::XTestKeyboard> keyboard;
  std::unique_ptr<ChildProcess> vigil;
};

e2e::XvfbServer* VigilTest::server = nullptr;

TEST_F(VigilTest, EveryTrackedKeyGivesOneDownThenOneUp) {
  const std::pair<unsigned, std::string> keys[] = {
      {133, "left_command"}, {134, "right_command"}, {64, "left_alt"},   {108, "right_alt"},
      {37, "left_control"},  {50, "left_shift"},     {62, "right_shift"}};
  for (const auto& [keycode, name] : keys) {
    keyboard->tap(keycode);
    EXPECT_EQ(readLines(*vigil, 2), (Lines{down(name), up(name)})) << "X key code " << keycode;
  }
}

TEST_F(VigilTest, LettersAndRightControlWriteNothing) {
  for (unsigned keycode : {38u, 56u, 36u, 65u, 105u}) keyboard->tap(keycode);  // a b Return space
  keyboard->press(50);
  keyboard->tap(38);  // shifted letter: still nothing of its own
  keyboard->release(50);
  EXPECT_EQ(readLines(*vigil, 2), (Lines{down("left_shift"), up("left_shift")}));
}

TEST_F(VigilTest, RightCommandReleasedWhileLeftHeldIsReportedUpAtOnce) {
  keyboard->press(133);
  keyboard->press(134);
  keyboard->release(134);
  EXPECT_EQ(readLines(*vigil, 3),
            (Lines{down("left_command"), down("right_command"), up("right_command")}));
  keyboard->release(133);
  EXPECT_EQ(readLines(*vigil, 1), (Lines{up("left_command")}));
}

TEST_F(VigilTest, KeysAreSeenWhileAnotherClientGrabsTheKeyboard) {
  Display* grabber = XOpenDisplay(server->display().c_str());
  ASSERT_NE(grabber, nullptr);
  ASSERT_EQ(XGrabKeyboard(grabber, DefaultRootWindow(grabber), False, GrabModeAsync, GrabModeAsync,
                          CurrentTime),
            GrabSuccess);
  XSync(grabber, False);
  keyboard->tap(64);
  EXPECT_EQ(readLines(*vigil, 2), (Lines{down("left_alt"), up("left_alt")}));
  XCloseDisplay(grabber);
}

TEST_F(VigilTest, HostClosingStdoutEndsTheRunWithStatusZero) {
  vigil->closeStdout();
  auto status = vigil->waitExit();
  ASSERT_TRUE(status) << "vigil kept running with nobody reading";
  EXPECT_TRUE(e2e::exitedCleanly(status)) << "status " << *status;
}

// The host went away before vigil wrote its first line: that write fails before the main loop
// runs, and the run must still end at once, with status 0, on either backend.
TEST(VigilHostGoneTest, ExitsZeroWithinASecondWhenNobodyReadsFromTheStart) {
  e2e::XvfbServer server;
  ASSERT_TRUE(server.running());
  for (const char* backend : {"x11", "evdev"}) {
    ChildProcess vigil({VIGIL_BINARY, "--backend", backend}, {"DISPLAY=" + server.display()},
                       ChildProcess::Output::readerGone);
    const auto status = vigil.waitExit(1s);
    EXPECT_TRUE(e2e::exitedCleanly(status)) << backend << (status ? "" : ": still running");
    EXPECT_EQ(vigil.errorOutput(), "") << backend;
  }
}

TEST(VigilServerLossTest, HeldKeysAreReportedUpBeforeDegradedWhenTheServerDies) {
  e2e::XvfbServer server;
  ASSERT_TRUE(server.running());
  auto vigil = startVigil(server.display());
  ASSERT_EQ(readLines(*vigil, 3), (Lines{kStarting, kCapability, kReady}));
  {
    e2e::XTestKeyboard keyboard(server.display());
    keyboard.press(50);
    keyboard.press(108);
    keyboard.sync();
    EXPECT_EQ(readLines(*vigil, 2), (Lines{down("left_shift"), down("right_alt")}));
  }
  server.kill();
  Lines lines = readLines(*vigil, 3);
  ASSERT_EQ(lines.size(), 3u);
  Lines ups(lines.begin(), lines.begin() + 2);
  std::sort(ups.begin(), ups.end());
  EXPECT_EQ(ups, (Lines{up("left_shift"), up("right_alt")}));
  EXPECT_EQ(lines[2],
            R"({"event":"status","state":"degraded","message":"X server connection lost."})");
  EXPECT_TRUE(vigil->readsEndOfOutput(2s));
  EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit(2s)));
  EXPECT_EQ(vigil->errorOutput(), "");
}

// A display number that no X server on this machine holds (no lock file, no socket).
std::string unusedDisplay() {
  for (int n = 97; n < 1000; ++n) {
    const std::string number = std::to_string(n);
    if (access(("/tmp/.X" + number + "-lock").c_str(), F_OK) != 0 &&
        access(("/tmp/.X11-unix/X" + number).c_str(), F_OK) != 0) {
      return ":" + number;
    }
  }
  return ":999";
}

TEST(VigilNoDisplayTest, ReportsTheRealCauseThenDegradedAndExits) {
  const std::string display = unusedDisplay();
  auto vigil = startVigil(display);
  Lines lines = readLines(*vigil, 4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], kStarting);
  EXPECT_EQ(lines[1], kCapability);
  EXPECT_EQ(lines[2], R"({"event":"error","code":"failed_to_create_event_tap",)"
                      R"("message":"Unable to open X display \")" +
                          display + R"(\"."})");
  EXPECT_EQ(
      lines[3],
      R"({"event":"status","state":"degraded","message":"XInput2 raw key events unavailable."})");
  EXPECT_TRUE(vigil->readsEndOfOutput(5s));
  EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
  EXPECT_EQ(vigil->errorOutput(), "");
}

// An "X server" that refuses every client at connection set-up with a reason, which the X
// client library writes straight to standard error.
class RefusingXServer {
 public:
  RefusingXServer() {
    for (int n = 400; n < 500 && listener_ < 0; ++n) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      const std::string name = "/tmp/.X11-unix/X" + std::to_string(n);
      std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: tried first
      const socklen_t size =
          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
      if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && listen(fd, 4) == 0) {
        listener_ = fd;
        display_ = ":" + std::to_string(n);
      } else {
        close(fd);
      }
    }
    if (listener_ >= 0) answerer_ = std::thread([this] { refuseClients(); });
  }
  ~RefusingXServer() {
    shutdown(listener_, SHUT_RDWR);
    if (answerer_.joinable()) answerer_.join();
    if (listener_ >= 0) close(listener_);
  }
  const std::string& display() const { return display_; }

 private:
  void refuseClients() {
    for (int client; (client = accept(listener_, nullptr, nullptr)) >= 0; close(client)) {
      unsigned char request[12];
      if (recv(client, request, sizeof request, MSG_WAITALL) != sizeof request) continue;
      const std::string reason = "No protocol specified\n";  // 22 bytes, padded to 24
      unsigned char reply[8 + 24] = {0, static_cast<unsigned char>(reason.size()), 11, 0, 0, 0, 6,
                                     0};  // failed, reason length, 11.0, 6 words follow
      std::memcpy(reply + 8, reason.data(), reason.size());
      send(client, reply, sizeof reply, MSG_NOSIGNAL);
    }
  }

  int listener_ = -1;
  std::string display_;
  std::thread answerer_;
};

TEST(VigilQuietTest, NothingReachesStandardErrorWhenTheServerRefusesUs) {
  RefusingXServer refusing;
  ASSERT_FALSE(refusing.display().empty());
  auto vigil = startVigil(refusing.display());
  Lines lines = readLines(*vigil, 4);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], R"({"event":"error","code":"failed_to_create_event_tap",)"
                      R"("message":"Unable to open X display \")" +
                          refusing.display() + R"(\"."})");
  EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
  EXPECT_EQ(vigil->errorOutput(), "");
}

}  // namespace
