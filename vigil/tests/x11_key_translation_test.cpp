#include "x11_key_translation.h"

#include <gtest/gtest.h>

#include "fake_monitor_platform.h"
#include "hotkey_monitor.h"

namespace vigil {
namespace {

namespace F = ModifierFlag;

TEST(X11KeyTranslationTest, PhysicalModifiersMapToTheMonitorsTable) {
  EXPECT_EQ(monitorKeyCodeForXKeycode(133), 55);  // Super_L: left Command
  EXPECT_EQ(monitorKeyCodeForXKeycode(134), 54);
  EXPECT_EQ(monitorKeyCodeForXKeycode(64), 58);
  EXPECT_EQ(monitorKeyCodeForXKeycode(108), 61);
  EXPECT_EQ(monitorKeyCodeForXKeycode(37), 59);
  EXPECT_EQ(monitorKeyCodeForXKeycode(105), 62);  // right Control: known, not tracked
  EXPECT_EQ(monitorKeyCodeForXKeycode(50), 56);
  EXPECT_EQ(monitorKeyCodeForXKeycode(62), 60);
  EXPECT_EQ(monitorKeyCodeForXKeycode(38), -1);  // 'a'
  EXPECT_EQ(monitorKeyCodeForXKeycode(255), -1);
}

TEST(X11KeyTranslationTest, FlagsCarrySharedAndSideBitsOfEveryHeldModifier) {
  X11ModifierFlags flags;
  TapNotification n = flags.press(133);
  EXPECT_EQ(n.type, EventType::flagsChanged);
  EXPECT_EQ(n.event.keyCode, 55);
  EXPECT_EQ(n.event.flags, F::command | F::leftCommand);
  n = flags.press(134);
  EXPECT_EQ(n.event.flags, F::command | F::leftCommand | F::rightCommand);
  n = flags.press(62);
  EXPECT_EQ(n.event.flags,
            F::command | F::leftCommand | F::rightCommand | F::shift | F::rightShift);
  n = flags.release(133);
  EXPECT_EQ(n.event.keyCode, 55);
  EXPECT_EQ(n.event.flags, F::command | F::rightCommand | F::shift | F::rightShift);
  flags.release(134);
  flags.release(62);
  EXPECT_EQ(flags.flags(), 0u);
  // A release never seen pressed (held when the monitor started) leaves nothing behind.
  n = flags.release(37);
  EXPECT_EQ(n.event.flags, 0u);
}

TEST(X11KeyTranslationTest, OrdinaryKeysPassAsKeyEventsWithoutTheirCode) {
  X11ModifierFlags flags;
  flags.press(50);
  TapNotification n = flags.press(38);
  EXPECT_EQ(n.type, EventType::keyDown);
  EXPECT_EQ(n.event.keyCode, -1);
  EXPECT_EQ(n.event.flags, F::shift | F::leftShift);
  EXPECT_EQ(flags.release(38).type, EventType::keyUp);
}

// X's per-key presses through the monitor: the pair sharing a bit is still told apart.
TEST(X11KeyTranslationTest, RightSuperReleasedWhileLeftHeldIsReportedUp) {
  FakeMonitorPlatform platform;
  HotkeyMonitor monitor(platform, false);
  monitor.start();
  platform.takeLines();
  X11ModifierFlags flags;
  auto deliver = [&](TapNotification n) { monitor.handleEvent(n.type, n.event); };
  deliver(flags.press(133));
  deliver(flags.press(134));
  deliver(flags.release(134));
  deliver(flags.press(38));
  deliver(flags.release(38));
  deliver(flags.release(133));
  EXPECT_EQ(
      platform.takeLines(),
      (std::vector<std::string>{R"({"event":"modifier","key":"left_command","state":"down"})",
                                R"({"event":"modifier","key":"right_command","state":"down"})",
                                R"({"event":"modifier","key":"right_command","state":"up"})",
                                R"({"event":"modifier","key":"left_command","state":"up"})"}));
}

}  // namespace
}  // namespace vigil
