#include "hotkey_monitor.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_monitor_platform.h"

namespace vigil {
namespace {

using ::testing::Test;
using Lines = std::vector<std::string>;

const std::string kStarting = R"({"event":"status","state":"starting"})";
const std::string kCapability =
    R"({"event":"capability","platform":"macos","supportsFn":true,"supportsModifierOnly":true,)"
    R"("requiresAccessibilityPermission":true})";
const std::string kReady = R"({"event":"status","state":"ready"})";
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

std::string down(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"down"})";
}
std::string up(const std::string& key) {
  return R"({"event":"modifier","key":")" + key + R"(","state":"up"})";
}

namespace F = ModifierFlag;

class HotkeyMonitorTest : public Test {
 protected:
  void flagsChanged(std::int64_t keyCode, std::uint64_t flags) {
    monitor.handleEvent(EventType::flagsChanged, KeyEvent{keyCode, flags});
  }
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
            (Lines{"writeLine", "writeLine", "isProcessTrusted(no prompt)", "createEventTap",
                   "createRunLoopSource", "addRunLoopSource", "enableTap(true)", "writeLine",
                   "observeKeyboardDevices", "runLoop"}));
  EXPECT_TRUE(monitor.holdsEventTap());
}

TEST_F(HotkeyMonitorTest, PermissionRequiredNeverStopsTheStartUp) {
  platform.trusted = false;
  monitor.start();
  EXPECT_EQ(platform.takeLines(), (Lines{kStarting, kCapability, kPermission, kReady}));
  EXPECT_EQ(platform.calls.back(), "runLoop");
}

TEST_F(HotkeyMonitorTest, PromptFlagReachesTheAccessibilityCheck) {
  HotkeyMonitor prompting(platform, true);
  prompting.start();
  EXPECT_EQ(platform.calls[2], "isProcessTrusted(prompt)");
}

TEST_F(HotkeyMonitorTest, FailedTapGivesErrorThenDegradedAndStillRunsTheLoop) {
  platform.trusted = false;
  platform.tapCanBeCreated = false;
  monitor.start();
  EXPECT_EQ(platform.takeLines(),
            (Lines{kStarting, kCapability, kPermission, kTapError, kDegraded}));
  EXPECT_FALSE(monitor.holdsEventTap());
  ASSERT_GE(platform.calls.size(), 2u);
  EXPECT_EQ(platform.calls[platform.calls.size() - 2], "observeKeyboardDevices");
  EXPECT_EQ(platform.calls.back(), "runLoop");
  // No modifier line ever follows a failed tap: nothing can deliver one.
}

TEST_F(HotkeyMonitorTest, TapWithoutRunLoopSourceWritesNoReady) {
  platform.sourceCanBeCreated = false;
  monitor.start();
  EXPECT_EQ(platform.takeLines(), (Lines{kStarting, kCapability}));
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "enableTap(true)"), 0);
  EXPECT_EQ(platform.calls.back(), "runLoop");
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

TEST_F(HotkeyMonitorTest, LeftShiftAloneGivesOneDownThenOneUp) {
  startQuietly();
  flagsChanged(56, F::shift | F::leftShift);
  flagsChanged(56, 0);
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_shift"), up("left_shift")}));
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(HotkeyMonitorTest, RepeatsAndReleasesOfKeysNotDownWriteNothing) {
  startQuietly();
  flagsChanged(58, F::alternate);
  flagsChanged(58, F::alternate);
  flagsChanged(61, 0);  // right Option was never down
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_alt")}));
  EXPECT_EQ(monitor.modifierKeysDown(), (std::set<std::string>{"left_alt"}));
}

TEST_F(HotkeyMonitorTest, UntrackedCodesAndKeyEventsChangeNothing) {
  startQuietly();
  flagsChanged(62, F::control | F::rightControl);  // right Control has no row
  flagsChanged(0, F::shift);                       // 'a'
  flagsChanged(200, ~0ull);
  monitor.handleEvent(EventType::keyDown, KeyEvent{56, F::shift});
  monitor.handleEvent(EventType::keyUp, KeyEvent{55, F::command});
  monitor.handleEvent(99, KeyEvent{56, F::shift});
  EXPECT_TRUE(platform.takeLines().empty());
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(HotkeyMonitorTest, EveryRowHasItsNameAndReactsToItsOwnBit) {
  startQuietly();
  const std::pair<std::int64_t, std::string> rows[] = {
      {55, "left_command"}, {54, "right_command"}, {58, "left_alt"},    {61, "right_alt"},
      {59, "left_control"}, {56, "left_shift"},    {60, "right_shift"}, {63, "fn"}};
  for (const auto& [code, name] : rows) {
    const ModifierKey& key = monitor.keyCodeMap.at(code);
    EXPECT_EQ(key.name, name);
    flagsChanged(code, key.flag);
    flagsChanged(code, 0);
    EXPECT_EQ(platform.takeLines(), (Lines{down(name), up(name)})) << name;
  }
  EXPECT_EQ(monitor.keyCodeMap.size(), 8u);
}

TEST_F(HotkeyMonitorTest, FnReactsOnlyToItsOwnBit) {
  startQuietly();
  flagsChanged(63, F::command | F::shift | F::control | F::alternate);
  EXPECT_TRUE(platform.takeLines().empty());
  flagsChanged(63, F::secondaryFn);
  EXPECT_EQ(platform.takeLines(), (Lines{down("fn")}));
}

// Flags with only the shared bit (no device-dependent bits): the pair cannot be told apart, so
// releasing right Command while left Command is held writes nothing until a later event.
TEST_F(HotkeyMonitorTest, SharedBitOnlyLeavesRightCommandUntilItsNextEvent) {
  startQuietly();
  flagsChanged(55, F::command);
  flagsChanged(54, F::command);
  flagsChanged(54, F::command);  // right released, left still holds the bit
  flagsChanged(55, 0);
  EXPECT_EQ(platform.takeLines(),
            (Lines{down("left_command"), down("right_command"), up("left_command")}));
  EXPECT_EQ(monitor.modifierKeysDown(), (std::set<std::string>{"right_command"}));
  flagsChanged(54, 0);
  EXPECT_EQ(platform.takeLines(), (Lines{up("right_command")}));
}

// With device-dependent bits each key is decided by its own side, so nothing stays stuck.
TEST_F(HotkeyMonitorTest, SideBitsReleaseRightCommandWhileLeftIsHeld) {
  startQuietly();
  flagsChanged(55, F::command | F::leftCommand);
  flagsChanged(54, F::command | F::leftCommand | F::rightCommand);
  flagsChanged(54, F::command | F::leftCommand);
  EXPECT_EQ(platform.takeLines(),
            (Lines{down("left_command"), down("right_command"), up("right_command")}));
  flagsChanged(55, 0);
  EXPECT_EQ(platform.takeLines(), (Lines{up("left_command")}));
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(HotkeyMonitorTest, SideBitsOfEveryPair) {
  startQuietly();
  const struct {
    std::int64_t left, right;
    std::uint64_t shared, leftBit, rightBit;
    const char *leftName, *rightName;
  } pairs[] = {
      {56, 60, F::shift, F::leftShift, F::rightShift, "left_shift", "right_shift"},
      {58, 61, F::alternate, F::leftAlternate, F::rightAlternate, "left_alt", "right_alt"},
      {55, 54, F::command, F::leftCommand, F::rightCommand, "left_command", "right_command"},
  };
  for (const auto& p : pairs) {
    // Hold right, press and release left: the left key goes up though the shared bit stays.
    flagsChanged(p.right, p.shared | p.rightBit);
    flagsChanged(p.left, p.shared | p.leftBit | p.rightBit);
    flagsChanged(p.left, p.shared | p.rightBit);
    flagsChanged(p.right, 0);
    EXPECT_EQ(platform.takeLines(),
              (Lines{down(p.rightName), down(p.leftName), up(p.leftName), up(p.rightName)}));
  }
  // Left Control with right Control's side bit only: right Control is down, left is not.
  flagsChanged(59, F::control | F::rightControl);
  EXPECT_TRUE(platform.takeLines().empty());
}

// The tap's own numbers, written out rather than taken from the code's constants, so that a wrong
// constant fails here: event types 10, 11, 12, 0xFFFFFFFE and 0xFFFFFFFF; the shared masks of
// Shift, Control, Option, Command and Fn; each key's device-dependent side bit.
TEST_F(HotkeyMonitorTest, LiteralTypesAndFlagMasksDriveTheMonitor) {
  startQuietly();
  const struct {
    std::uint32_t type;
    std::int64_t keyCode;
    std::uint64_t flags;
    Lines lines;
  } rows[] = {
      {12, 56, 0x20000, {down("left_shift")}},
      {12, 56, 0, {up("left_shift")}},
      {12, 59, 0x40000, {down("left_control")}},
      {12, 59, 0, {up("left_control")}},
      {12, 58, 0x80000, {down("left_alt")}},
      {12, 58, 0, {up("left_alt")}},
      {12, 55, 0x100000, {down("left_command")}},
      {12, 55, 0, {up("left_command")}},
      {12, 63, 0x800000, {down("fn")}},
      {12, 63, 0x7F0000 | 0x100000, {up("fn")}},  // every other mask but Fn's
      // Each side bit with its shared mask holds its own key down and not its partner.
      {12, 56, 0x20000 | 0x2, {down("left_shift")}},
      {12, 60, 0x20000 | 0x2 | 0x4, {down("right_shift")}},
      {12, 56, 0x20000 | 0x4, {up("left_shift")}},
      {12, 60, 0, {up("right_shift")}},
      {12, 58, 0x80000 | 0x20, {down("left_alt")}},
      {12, 61, 0x80000 | 0x20 | 0x40, {down("right_alt")}},
      {12, 58, 0x80000 | 0x40, {up("left_alt")}},
      {12, 61, 0, {up("right_alt")}},
      {12, 55, 0x100000 | 0x8, {down("left_command")}},
      {12, 54, 0x100000 | 0x8 | 0x10, {down("right_command")}},
      {12, 55, 0x100000 | 0x10, {up("left_command")}},
      {12, 54, 0, {up("right_command")}},
      {12, 59, 0x40000 | 0x1, {down("left_control")}},
      {12, 59, 0x40000 | 0x2000, {up("left_control")}},  // right Control's side bit alone
      // Key down and key up notices never count, whatever their flags.
      {10, 56, 0x20000 | 0x2, {}},
      {11, 60, 0x20000 | 0x4, {}},
      // Both tap-disabled kinds release what is held, then the tap is ready again.
      {12, 54, 0x100000 | 0x10, {down("right_command")}},
      {0xFFFFFFFE, 0, 0, {up("right_command"), kReady}},
      {12, 63, 0x800000, {down("fn")}},
      {0xFFFFFFFF, 0, 0, {up("fn"), kReady}},
  };
  int row = 0;
  for (const auto& r : rows) {
    monitor.handleEvent(r.type, KeyEvent{r.keyCode, r.flags});
    EXPECT_EQ(platform.takeLines(), r.lines) << "row " << row++;
  }
}

// --- tap recovery ---------------------------------------------------------------------------

TEST_F(HotkeyMonitorTest, TapDisabledReleasesHeldKeysThenReenablesAndReportsReady) {
  startQuietly();
  flagsChanged(56, F::shift);
  flagsChanged(59, F::shift | F::control);
  flagsChanged(63, F::shift | F::control | F::secondaryFn);
  platform.takeLines();
  monitor.handleEvent(EventType::tapDisabledByTimeout, {});
  Lines lines = platform.takeLines();
  ASSERT_EQ(lines.size(), 4u);
  Lines ups(lines.begin(), lines.begin() + 3);
  std::sort(ups.begin(), ups.end());
  EXPECT_EQ(ups, (Lines{up("fn"), up("left_control"), up("left_shift")}));
  EXPECT_EQ(lines[3], kReady);
  ASSERT_GE(platform.calls.size(), 2u);
  EXPECT_EQ(platform.calls[platform.calls.size() - 2], "enableTap(true)")
      << "ready follows the re-enable";
  EXPECT_TRUE(monitor.modifierKeysDown().empty());

  flagsChanged(56, F::shift);
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_shift")}));
}

TEST_F(HotkeyMonitorTest, TapDisabledByUserInputWithNothingHeldGivesOnlyReady) {
  startQuietly();
  monitor.handleEvent(EventType::tapDisabledByUserInput, {});
  monitor.handleEvent(EventType::tapDisabledByUserInput, {});
  EXPECT_EQ(platform.takeLines(), (Lines{kReady, kReady}));
}

TEST_F(HotkeyMonitorTest, TapDisabledWithoutATapReleasesThenReportsDegraded) {
  platform.tapCanBeCreated = false;
  startQuietly();
  flagsChanged(60, F::shift);
  monitor.handleEvent(EventType::tapDisabledByTimeout, {});
  EXPECT_EQ(platform.takeLines(), (Lines{down("right_shift"), up("right_shift"), kNotRestored}));
  EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "enableTap(true)"), 0);
}

TEST_F(HotkeyMonitorTest, LostTapReportsEveryHeldKeyUpBeforeDegraded) {
  startQuietly();
  flagsChanged(55, F::command | F::leftCommand);
  flagsChanged(54, F::command | F::leftCommand | F::rightCommand);
  platform.takeLines();
  monitor.handleTapLost("X server connection lost.");
  Lines lines = platform.takeLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2],
            R"({"event":"status","state":"degraded","message":"X server connection lost."})");
  EXPECT_FALSE(monitor.holdsEventTap());
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

// --- listening -------------------------------------------------------------------------------

// The session locked or sent to the background silences the keys; held keys are released once.
TEST_F(HotkeyMonitorTest, NotListeningReleasesHeldKeysOnceAndSilencesTheKeysUntilReturn) {
  startQuietly();
  enum Kind { key, deaf, hear, tapDisabled };
  const struct {
    Kind kind;
    std::int64_t keyCode;
    std::uint64_t flags;
    Lines lines;
  } steps[] = {
      {key, 56, F::shift, {down("left_shift")}},
      {key, 55, F::shift | F::command, {down("left_command")}},
      {deaf, 0, 0, {up("left_command"), up("left_shift")}},
      {deaf, 0, 0, {}},
      {key, 58, F::shift | F::command | F::alternate, {}},
      {key, 55, F::shift | F::alternate, {}},
      {tapDisabled, 0, 0, {kReady}},  // the tap's own state still reaches the host
      {hear, 0, 0, {}},
      {hear, 0, 0, {}},
      // Held across the change: their releases say nothing, as for keys held at start.
      {key, 58, F::shift, {}},
      {key, 56, 0, {}},
      {key, 60, F::shift, {down("right_shift")}},
      {key, 60, 0, {up("right_shift")}},
      // A change while nothing is held writes nothing.
      {deaf, 0, 0, {}},
      {hear, 0, 0, {}},
      {key, 56, F::shift, {down("left_shift")}},
  };
  int row = 0;
  for (const auto& step : steps) {
    if (step.kind == key) flagsChanged(step.keyCode, step.flags);
    if (step.kind == deaf || step.kind == hear) monitor.setListening(step.kind == hear);
    if (step.kind == tapDisabled) monitor.handleEvent(EventType::tapDisabledByTimeout, {});
    EXPECT_EQ(platform.takeLines(), step.lines) << "step " << row++;
  }
}

TEST_F(HotkeyMonitorTest, TapCallbackWithoutMonitorDoesNothing) {
  startQuietly();
  deliverTapEvent(nullptr, EventType::flagsChanged, KeyEvent{56, F::shift});
  EXPECT_TRUE(platform.lines.empty());
  deliverTapEvent(&monitor, EventType::flagsChanged, KeyEvent{56, F::shift});
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_shift")}));
}

}  // namespace
}  // namespace vigil
