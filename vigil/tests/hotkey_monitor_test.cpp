#include "hotkey_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_monitor_platform.h"

namespace vigil {
namespace {

using ::testing::Test;

const std::string kStarting = R"({"event":"status","state":"starting"})";
const std::string kCapability =
    R"({"event":"capability","platform":"macos","supportsFn":true,"supportsModifierOnly":true,)"
    R"("requiresAccessibilityPermission":true})";
const std::string kPermission =
    R"({"event":"status","state":"permission_required",)"
    R"("message":"Accessibility permission is required for modifier monitoring."})";
const std::string kTapError =
    R"({"event":"error","code":"failed_to_create_event_tap","message":"Unable to create CGEvent tap."})";
const std::string kDegraded =
    R"({"event":"status","state":"degraded","message":"CGEvent tap unavailable."})";
const std::string kNotRestored =
    R"({"event":"status","state":"degraded",)"
    R"("message":"CGEvent tap was disabled and could not be restored."})";

using K = ModifierKey;

class HotkeyMonitorTest : public Test {
 protected:
  // Starts the monitor and forgets its start-up lines.
  void startQuietly() {
    monitor.start();
    platform.takeLines();
    platform.calls.clear();
  }

  FakeMonitorPlatform platform;
  HotkeyMonitor monitor{platform, false};
};

// --- start-up -------------------------------------------------------------------------------

TEST_F(HotkeyMonitorTest, TrustedStartWritesStartingCapabilityReadyThenRunsTheLoop) {
  monitor.start();
  EXPECT_EQ(platform.takeLines(), (Lines{kStarting, kCapability, kReady}));
  EXPECT_EQ(platform.calls,
            (Lines{"writeLine", "writeLine", "openKeySource(no prompt)", "writeLine", "run"}));
  EXPECT_TRUE(monitor.holdsKeySource());
}

TEST_F(HotkeyMonitorTest, PermissionRequiredNeverStopsTheStartUp) {
  platform.trusted = false;
  monitor.start();
  EXPECT_EQ(platform.takeLines(), (Lines{kStarting, kCapability, kPermission, kReady}));
  EXPECT_EQ(platform.calls.back(), "run");
}

TEST_F(HotkeyMonitorTest, PromptFlagReachesThePermissionCheck) {
  HotkeyMonitor prompting(platform, true);
  prompting.start();
  EXPECT_EQ(platform.calls[2], "openKeySource(prompt)");
}

TEST_F(HotkeyMonitorTest, FailedSourceGivesErrorThenDegradedAndStillRunsTheLoop) {
  platform.trusted = false;
  platform.sourceCanBeOpened = false;
  monitor.start();
  EXPECT_EQ(platform.takeLines(),
            (Lines{kStarting, kCapability, kPermission, kTapError, kDegraded}));
  EXPECT_FALSE(monitor.holdsKeySource());
  EXPECT_EQ(platform.calls.back(), "run");
  // No modifier line ever follows a failed source: nothing can deliver one.
}

TEST_F(HotkeyMonitorTest, SourceNotDeliveringWritesNoReady) {
  platform.sourceDelivers = false;
  monitor.start();
  EXPECT_EQ(platform.takeLines(), (Lines{kStarting, kCapability}));
  EXPECT_TRUE(monitor.holdsKeySource());
  EXPECT_EQ(platform.calls.back(), "run");
}

TEST(PromptFlagTest, AnyArgumentExactlyEqualToTheFlag) {
  const char* none[] = {"vigil"};
  const char* given[] = {"vigil", "x", "--prompt-accessibility", "y"};
  const char* twice[] = {"vigil", "--prompt-accessibility", "--prompt-accessibility"};
  const char* asProgram[] = {"--prompt-accessibility"};
  const char* capitals[] = {"vigil", "--Prompt-Accessibility", "--prompt-accessibility=1"};
  EXPECT_FALSE(promptFlagGiven(1, none));
  EXPECT_TRUE(promptFlagGiven(4, given));
  EXPECT_TRUE(promptFlagGiven(3, twice));
  EXPECT_TRUE(promptFlagGiven(1, asProgram));
  EXPECT_FALSE(promptFlagGiven(3, capitals));
}

// --- modifier tracking ----------------------------------------------------------------------

TEST_F(HotkeyMonitorTest, EveryKeyHasItsNameAndGivesOneDownThenOneUp) {
  startQuietly();
  const std::pair<K, std::string> keys[] = {
      {K::leftCommand, "left_command"}, {K::rightCommand, "right_command"},
      {K::leftAlt, "left_alt"},         {K::rightAlt, "right_alt"},
      {K::leftControl, "left_control"}, {K::leftShift, "left_shift"},
      {K::rightShift, "right_shift"},   {K::fn, "fn"}};
  for (const auto& [key, name] : keys) {
    EXPECT_EQ(modifierKeyName(key), name);
    monitor.keyDown(key);
    EXPECT_EQ(monitor.modifierKeysDown(), (std::set<std::string>{name}));
    monitor.keyUp(key);
    EXPECT_EQ(platform.takeLines(), (Lines{down(name), up(name)})) << name;
  }
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(HotkeyMonitorTest, RepeatsAndReleasesOfKeysNotDownWriteNothing) {
  startQuietly();
  monitor.keyDown(K::leftAlt);
  monitor.keyDown(K::leftAlt);
  monitor.keyUp(K::rightAlt);  // right Option was never down
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_alt")}));
  EXPECT_EQ(monitor.modifierKeysDown(), (std::set<std::string>{"left_alt"}));
}

// --- interruption and loss ------------------------------------------------------------------

TEST_F(HotkeyMonitorTest, InterruptionReleasesHeldKeysThenResumesAndReportsReady) {
  startQuietly();
  monitor.keyDown(K::leftShift);
  monitor.keyDown(K::leftControl);
  monitor.keyDown(K::fn);
  platform.takeLines();
  monitor.listeningInterrupted();
  Lines lines = platform.takeLines();
  ASSERT_EQ(lines.size(), 4u);
  Lines ups(lines.begin(), lines.begin() + 3);
  std::sort(ups.begin(), ups.end());
  EXPECT_EQ(ups, (Lines{up("fn"), up("left_control"), up("left_shift")}));
  EXPECT_EQ(lines[3], kReady);
  ASSERT_GE(platform.calls.size(), 2u);
  EXPECT_EQ(platform.calls[platform.calls.size() - 2], "resumeKeySource")
      << "ready follows the resumption";
  EXPECT_TRUE(monitor.modifierKeysDown().empty());

  monitor.keyDown(K::leftShift);
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_shift")}));
}

TEST_F(HotkeyMonitorTest, InterruptionWithNothingHeldGivesOnlyReady) {
  startQuietly();
  monitor.listeningInterrupted();
  monitor.listeningInterrupted();
  EXPECT_EQ(platform.takeLines(), (Lines{kReady, kReady}));
}

TEST_F(HotkeyMonitorTest, InterruptionWithoutASourceReleasesThenReportsDegraded) {
  platform.sourceCanBeOpened = false;
  startQuietly();
  monitor.keyDown(K::rightShift);
  monitor.listeningInterrupted();
  EXPECT_EQ(platform.takeLines(), (Lines{down("right_shift"), up("right_shift"), kNotRestored}));
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "resumeKeySource"), 0);
}

TEST_F(HotkeyMonitorTest, LostSourceReportsEveryHeldKeyUpBeforeDegraded) {
  startQuietly();
  monitor.keyDown(K::leftCommand);
  monitor.keyDown(K::rightCommand);
  platform.takeLines();
  monitor.listeningLost("X server connection lost.");
  Lines lines = platform.takeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2],
            R"({"event":"status","state":"degraded","message":"X server connection lost."})");
  EXPECT_FALSE(monitor.holdsKeySource());
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
  monitor.listeningInterrupted();
  EXPECT_EQ(platform.takeLines(), (Lines{kNotRestored}));
}

// --- listening -------------------------------------------------------------------------------

// The session locked or sent to the background silences the keys; held keys are released once.
TEST_F(HotkeyMonitorTest, NotListeningReleasesHeldKeysOnceAndSilencesTheKeysUntilReturn) {
  startQuietly();
  enum Kind { press, release, deaf, hear, interrupted };
  const struct {
    Kind kind;
    K key;
    Lines lines;
  } steps[] = {
      {press, K::leftShift, {down("left_shift")}},
      {press, K::leftCommand, {down("left_command")}},
      {deaf, K::fn, {up("left_command"), up("left_shift")}},
      {deaf, K::fn, {}},
      {press, K::leftAlt, {}},
      {release, K::leftCommand, {}},
      {interrupted, K::fn, {kReady}},  // the source's own state still reaches the host
      {hear, K::fn, {}},
      {hear, K::fn, {}},
      // Held across the change: their releases say nothing, as for keys held at start.
      {release, K::leftAlt, {}},
      {release, K::leftShift, {}},
      {press, K::rightShift, {down("right_shift")}},
      {release, K::rightShift, {up("right_shift")}},
      // A change while nothing is held writes nothing.
      {deaf, K::fn, {}},
      {hear, K::fn, {}},
      {press, K::leftShift, {down("left_shift")}},
  };
  int row = 0;
  for (const auto& step : steps) {
    if (step.kind == press) monitor.keyDown(step.key);
    if (step.kind == release) monitor.keyUp(step.key);
    if (step.kind == deaf || step.kind == hear) monitor.setListening(step.kind == hear);
    if (step.kind == interrupted) monitor.listeningInterrupted();
    EXPECT_EQ(platform.takeLines(), step.lines) << "step " << row++;
  }
}

}  // namespace
}  // namespace vigil
