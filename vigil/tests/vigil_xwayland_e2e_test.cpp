// The real vigil binary on the Xwayland display of a headless sway: an X client there hears keys
// only while one of its own windows has the focus, so vigil must not say "ready" through X11.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <signal.h>

#include <algorithm>

#include "child_process.h"
#include "headless_sway.h"

namespace {

using e2e::ChildProcess;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const std::string kReady = R"({"event":"status","state":"ready"})";
const std::string kKernelCapability =
    R"({"event":"capability","platform":"linux","supportsFn":true,"supportsModifierOnly":true,)"
    R"("requiresAccessibilityPermission":true})";
const std::string kX11Capability =
    R"({"event":"capability","platform":"linux","supportsFn":false,"supportsModifierOnly":true,)"
    R"("requiresAccessibilityPermission":false})";

// vigil as sway's user (Xwayland admits no one else), with DISPLAY alone in its environment:
// no WAYLAND_DISPLAY and no XDG_SESSION_TYPE say that a Wayland session runs.
std::unique_ptr<ChildProcess> startVigil(const e2e::HeadlessSway& sway, const std::string& display,
                                         const std::vector<std::string>& args = {}) {
  std::vector<std::string> argv = sway.asUser();
  for (const std::string& arg : {std::string("/usr/bin/env"), std::string("-i"),
                                 "DISPLAY=" + display, std::string(VIGIL_BINARY)}) {
    argv.push_back(arg);
  }
  argv.insert(argv.end(), args.begin(), args.end());
  return std::make_unique<ChildProcess>(argv);
}

Lines readUntilEnd(ChildProcess& vigil, std::chrono::milliseconds timeout) {
  Lines lines;
  while (auto line = vigil.readLine(timeout)) lines.push_back(*line);
  return lines;
}

class VigilXwaylandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why = e2e::HeadlessSway::unavailableReason();
    if (!why.empty()) GTEST_SKIP() << "skipped, no headless sway with Xwayland here: " << why;
    sway = std::make_unique<e2e::HeadlessSway>();
    display = sway->waitForXwayland();
    ASSERT_FALSE(display.empty()) << "sway started no Xwayland; its log:\n" << sway->logTail();
  }

  std::unique_ptr<e2e::HeadlessSway> sway;
  std::string display;
};

TEST_F(VigilXwaylandTest, ReadsTheKernelsKeyboardsInsteadOfSayingReadyThroughX11) {
  auto vigil = startVigil(*sway, display);
  Lines lines = readUntilEnd(*vigil, 5s);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], kKernelCapability) << "vigil did not choose the kernel's devices";
  EXPECT_EQ(std::count(lines.begin(), lines.end(), kReady), 0);
  struct stat input {};
  if (stat("/dev/input", &input) != 0) {
    EXPECT_EQ(lines, (Lines{R"({"event":"status","state":"starting"})", kKernelCapability,
                            R"({"event":"error","code":"failed_to_create_event_tap",)"
                            R"("message":"There is no /dev/input: this system gives vigil no )"
                            R"(input devices to read (a container or a sandbox?)."})",
                            R"({"event":"status","state":"degraded",)"
                            R"("message":"Kernel keyboard events unavailable."})"}));
    EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
  }
  vigil->kill(SIGTERM);
  EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
  EXPECT_EQ(vigil->errorOutput(), "");
}

// The same display through the override: X11 would say "ready" there, which is why it is not
// the default (and shows that vigil reached the display above).
TEST_F(VigilXwaylandTest, OverrideToX11SaysReadyOnTheSameDisplay) {
  auto vigil = startVigil(*sway, display, {"--backend", "x11"});
  EXPECT_EQ(vigil->readLine().value_or(""), R"({"event":"status","state":"starting"})");
  EXPECT_EQ(vigil->readLine().value_or(""), kX11Capability);
  EXPECT_EQ(vigil->readLine().value_or(""), kReady);
  vigil->kill(SIGTERM);
  EXPECT_TRUE(e2e::exitedCleanly(vigil->waitExit()));
}

}  // namespace
