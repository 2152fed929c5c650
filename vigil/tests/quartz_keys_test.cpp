// The Quartz tap's notifications through the portable decoding into the real monitor: the event
// types, the flag words with their side bits, and the virtual key codes of the tracked keys.
#include "quartz_keys.h"

#include <gtest/gtest.h>

#include "fake_monitor_platform.h"

namespace vigil {
namespace {

namespace F = QuartzFlag;
namespace T = QuartzEventType;

class QuartzKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor.start();
    platform.takeLines();
  }
  void deliver(std::uint32_t type, std::int64_t keyCode, std::uint64_t flags) {
    deliverQuartzEvent(&monitor, type, keyCode, flags);
  }
  void flagsChanged(std::int64_t keyCode, std::uint64_t flags) {
    deliver(T::flagsChanged, keyCode, flags);
  }

  FakeMonitorPlatform platform;
  HotkeyMonitor monitor{platform, false};
};

TEST_F(QuartzKeysTest, LeftShiftAloneGivesOneDownThenOneUp) {
  flagsChanged(56, F::shift | F::leftShift);
  flagsChanged(56, 0);
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_shift"), up("left_shift")}));
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(QuartzKeysTest, UntrackedCodesAndKeyEventsChangeNothing) {
  flagsChanged(62, F::control | F::rightControl);  // right Control has no row
  flagsChanged(0, F::shift);                       // 'a'
  flagsChanged(200, ~0ull);
  deliver(T::keyDown, 56, F::shift);
  deliver(T::keyUp, 55, F::command);
  deliver(99, 56, F::shift);
  EXPECT_TRUE(platform.takeLines().empty());
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(QuartzKeysTest, EveryRowHasItsNameAndReactsToItsOwnBit) {
  const std::pair<std::int64_t, std::string> rows[] = {
      {55, "left_command"}, {54, "right_command"}, {58, "left_alt"},    {61, "right_alt"},
      {59, "left_control"}, {56, "left_shift"},    {60, "right_shift"}, {63, "fn"}};
  for (const auto& [code, name] : rows) {
    const QuartzKey* key = findQuartzKey(code);
    ASSERT_NE(key, nullptr) << name;
    EXPECT_EQ(modifierKeyName(key->key), name);
    flagsChanged(code, key->flag);
    flagsChanged(code, 0);
    EXPECT_EQ(platform.takeLines(), (Lines{down(name), up(name)})) << name;
  }
  for (std::int64_t code : {0, 53, 57, 62, 64, -1}) EXPECT_EQ(findQuartzKey(code), nullptr) << code;
}

TEST_F(QuartzKeysTest, FnReactsOnlyToItsOwnBit) {
  flagsChanged(63, F::command | F::shift | F::control | F::alternate);
  EXPECT_TRUE(platform.takeLines().empty());
  flagsChanged(63, F::secondaryFn);
  EXPECT_EQ(platform.takeLines(), (Lines{down("fn")}));
}

// Flags with only the shared bit (no device-dependent bits): the pair cannot be told apart, so
// releasing right Command while left Command is held writes nothing until a later event.
TEST_F(QuartzKeysTest, SharedBitOnlyLeavesRightCommandUntilItsNextEvent) {
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
TEST_F(QuartzKeysTest, SideBitsReleaseRightCommandWhileLeftIsHeld) {
  flagsChanged(55, F::command | F::leftCommand);
  flagsChanged(54, F::command | F::leftCommand | F::rightCommand);
  flagsChanged(54, F::command | F::leftCommand);
  EXPECT_EQ(platform.takeLines(),
            (Lines{down("left_command"), down("right_command"), up("right_command")}));
  flagsChanged(55, 0);
  EXPECT_EQ(platform.takeLines(), (Lines{up("left_command")}));
  EXPECT_TRUE(monitor.modifierKeysDown().empty());
}

TEST_F(QuartzKeysTest, SideBitsOfEveryPair) {
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
TEST_F(QuartzKeysTest, LiteralTypesAndFlagMasksDriveTheMonitor) {
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
    deliver(r.type, r.keyCode, r.flags);
    EXPECT_EQ(platform.takeLines(), r.lines) << "row " << row++;
  }
}

TEST_F(QuartzKeysTest, TapCallbackWithoutMonitorDoesNothing) {
  deliverQuartzEvent(nullptr, T::flagsChanged, 56, F::shift);
  EXPECT_TRUE(platform.lines.empty());
  deliverQuartzEvent(&monitor, T::flagsChanged, 56, F::shift);
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_shift")}));
}

}  // namespace
}  // namespace vigil
