#include "x11_key_translation.h"

#include <gtest/gtest.h>

#include "fake_monitor_platform.h"
#include "hotkey_monitor.h"

namespace vigil {
namespace {

TEST(X11KeyTranslationTest, PhysicalModifiersMapToTheTrackedKeys) {
  const std::pair<unsigned, std::optional<ModifierKey>> rows[] = {
      {133, ModifierKey::leftCommand},  // Super_L
      {134, ModifierKey::rightCommand},
      {64, ModifierKey::leftAlt},
      {108, ModifierKey::rightAlt},
      {37, ModifierKey::leftControl},
      {50, ModifierKey::leftShift},
      {62, ModifierKey::rightShift},
      {105, std::nullopt},  // right Control: not tracked
      {38, std::nullopt},   // 'a'
      {255, std::nullopt},
      {0, std::nullopt},
  };
  for (const auto& [keycode, key] : rows)
    EXPECT_EQ(modifierKeyForXKeycode(keycode), key) << keycode;
}

// X's per-key presses through the monitor: the pair of a kind is told apart, and ordinary keys
// pass by.
TEST(X11KeyTranslationTest, RightSuperReleasedWhileLeftHeldIsReportedUp) {
  FakeMonitorPlatform platform;
  HotkeyMonitor monitor(platform, false);
  monitor.start();
  platform.takeLines();
  auto deliver = [&](unsigned keycode, bool press) {
    if (auto key = modifierKeyForXKeycode(keycode))
      press ? monitor.keyDown(*key) : monitor.keyUp(*key);
  };
  deliver(133, true);
  deliver(134, true);
  deliver(134, false);
  deliver(38, true);
  deliver(38, false);
  deliver(133, false);
  EXPECT_EQ(platform.takeLines(), (Lines{down("left_command"), down("right_command"),
                                         up("right_command"), up("left_command")}));
}

}  // namespace
}  // namespace vigil
