// Kernel key events of several keyboards through the merge and the real monitor, on the fake
// platform: what each sequence of presses, repeats, resyncs and removals writes.
#include "evdev_keyboards.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>

#include "fake_monitor_platform.h"
#include "hotkey_monitor.h"

namespace vigil {
namespace {

// One thing a keyboard does: 'a' appears holding `codes`, 'k' sends `codes[0]` with `value`,
// 's' resyncs to holding `codes`, 'x' goes away.
struct Step {
  char op;
  int keyboard;
  std::vector<unsigned> codes;
  int value = 0;
};

Step add(int kb, std::vector<unsigned> held = {}) { return {'a', kb, std::move(held)}; }
Step press(int kb, unsigned code) { return {'k', kb, {code}, 1}; }
Step release(int kb, unsigned code) { return {'k', kb, {code}, 0}; }
Step repeat(int kb, unsigned code) { return {'k', kb, {code}, 2}; }
Step resync(int kb, std::vector<unsigned> held) { return {'s', kb, std::move(held)}; }
Step unplug(int kb) { return {'x', kb, {}}; }

class EvdevKeyboardsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    monitor.start();
    platform.takeLines();
  }

  Lines run(const std::vector<Step>& steps) {
    for (const Step& s : steps) {
      std::set<unsigned> codes(s.codes.begin(), s.codes.end());
      std::vector<KeyChange> changes;
      switch (s.op) {
        case 'a':
          keyboards.add(s.keyboard, codes);
          break;
        case 'k':
          if (auto change = keyboards.key(s.keyboard, s.codes[0], s.value)) {
            changes.push_back(*change);
          }
          break;
        case 's':
          changes = keyboards.resync(s.keyboard, codes);
          break;
        case 'x':
          changes = keyboards.remove(s.keyboard);
          break;
      }
      for (const KeyChange& c : changes) c.down ? monitor.keyDown(c.key) : monitor.keyUp(c.key);
    }
    return platform.takeLines();
  }

  FakeMonitorPlatform platform;
  HotkeyMonitor monitor{platform, false};
  EvdevKeyboards keyboards;
};

TEST_F(EvdevKeyboardsTest, EveryTrackedCodeGivesItsNameAndEveryOtherCodeNothing) {
  const std::pair<unsigned, std::string> tracked[] = {
      {KEY_LEFTMETA, "left_command"},  {KEY_RIGHTMETA, "right_command"},
      {KEY_LEFTALT, "left_alt"},       {KEY_RIGHTALT, "right_alt"},
      {KEY_LEFTCTRL, "left_control"},  {KEY_LEFTSHIFT, "left_shift"},
      {KEY_RIGHTSHIFT, "right_shift"}, {KEY_FN, "fn"}};
  run({add(1)});
  for (const auto& [code, name] : tracked) {
    EXPECT_EQ(run({press(1, code), release(1, code)}), (Lines{down(name), up(name)})) << name;
  }
  for (unsigned code : {KEY_RIGHTCTRL, KEY_A, KEY_ESC, KEY_CAPSLOCK, KEY_COMPOSE, KEY_MAX + 1}) {
    EXPECT_EQ(run({press(1, code), release(1, code)}), Lines{}) << code;
    EXPECT_EQ(modifierKeyForEvdevCode(code), std::nullopt) << code;
  }
}

struct Case {
  const char* name;
  std::vector<Step> steps;
  Lines lines;
};

TEST_F(EvdevKeyboardsTest, SequencesAcrossKeyboards) {
  const Case cases[] = {
      {"autorepeat and odd values are silent",
       {add(1),
        press(1, KEY_LEFTALT),
        repeat(1, KEY_LEFTALT),
        {'k', 1, {KEY_LEFTALT}, 7},
        press(1, KEY_LEFTSHIFT),
        repeat(1, KEY_LEFTALT),
        release(1, KEY_LEFTSHIFT),
        release(1, KEY_LEFTALT),
        repeat(1, KEY_LEFTALT)},
       {down("left_alt"), down("left_shift"), up("left_shift"), up("left_alt")}},
      {"a key is down while any keyboard holds it",
       {add(1), add(2), press(1, KEY_LEFTSHIFT), press(2, KEY_LEFTSHIFT), release(1, KEY_LEFTSHIFT),
        release(1, KEY_LEFTSHIFT), release(2, KEY_LEFTSHIFT)},
       {down("left_shift"), up("left_shift")}},
      {"left and right of a kind are told apart across keyboards",
       {add(1), add(2), press(1, KEY_LEFTMETA), press(2, KEY_RIGHTMETA), release(2, KEY_RIGHTMETA),
        release(1, KEY_LEFTMETA)},
       {down("left_command"), down("right_command"), up("right_command"), up("left_command")}},
      {"an unplugged keyboard releases only what no other keyboard holds",
       {add(1), add(2), press(1, KEY_LEFTSHIFT), press(1, KEY_FN), press(2, KEY_LEFTSHIFT),
        unplug(1), release(1, KEY_FN), release(2, KEY_LEFTSHIFT)},
       {down("left_shift"), down("fn"), up("fn"), up("left_shift")}},
      {"a key held before the keyboard was opened stays silent until pressed again",
       {add(1, {KEY_LEFTCTRL, KEY_A}), repeat(1, KEY_LEFTCTRL), release(1, KEY_LEFTCTRL),
        press(1, KEY_LEFTCTRL)},
       {down("left_control")}},
      {"resync reports what changed while events were dropped, releases first",
       {add(1), press(1, KEY_RIGHTSHIFT), press(1, KEY_LEFTALT), resync(1, {KEY_LEFTMETA})},
       {down("right_shift"), down("left_alt"), up("left_alt"), up("right_shift"),
        down("left_command")}},
      {"resync ignores right Control, and a second one with nothing changed writes nothing",
       {add(1), press(1, KEY_LEFTSHIFT), press(1, KEY_RIGHTALT),
        resync(1, {KEY_RIGHTALT, KEY_RIGHTSHIFT, KEY_RIGHTCTRL}),
        resync(1, {KEY_RIGHTALT, KEY_RIGHTSHIFT})},
       {down("left_shift"), down("right_alt"), up("left_shift"), down("right_shift")}},
      {"resync leaves keys held since opening unreported, and forgets them once released",
       {add(1, {KEY_LEFTMETA}), resync(1, {KEY_LEFTMETA}), resync(1, {}), release(1, KEY_LEFTMETA),
        press(1, KEY_LEFTMETA)},
       {down("left_command")}},
      {"resync of one keyboard keeps keys another holds",
       {add(1), add(2), press(1, KEY_LEFTALT), press(2, KEY_LEFTALT), resync(1, {}),
        release(2, KEY_LEFTALT)},
       {down("left_alt"), up("left_alt")}},
      {"unknown and removed keyboards change nothing",
       {press(9, KEY_LEFTSHIFT), add(1), unplug(1), press(1, KEY_LEFTSHIFT), resync(1, {KEY_FN}),
        unplug(1)},
       {}},
  };
  for (const Case& c : cases) {
    EvdevKeyboards fresh;
    std::swap(keyboards, fresh);
    Lines lines = run(c.steps);
    EXPECT_EQ(lines, c.lines) << c.name;
    for (const Step& s : c.steps) run({unplug(s.keyboard)});
    EXPECT_FALSE(keyboards.anyHeld()) << c.name << ": unplugging left a key held";
    EXPECT_TRUE(monitor.modifierKeysDown().empty()) << c.name;
  }
}

TEST(EvdevKeyBitsTest, TrackedCodesAreFoundInSysfsBitmaps) {
  const struct {
    const char* bitmap;
    unsigned bitsPerWord;
    bool tracked;
  } cases[] = {
      {"0", 64, false},
      {"", 64, false},
      {"dffffffe", 64, false},            // Esc to D without left Control (29)
      {"40000000000", 64, true},          // left Shift (42)
      {"200000000 0", 64, false},         // right Control (97) alone
      {"10000 0 0 0 0 0 0 0", 64, true},  // Fn (464)
      {"4000000000000000 0", 64, true},   // right Meta (126)
      {"400 0", 32, true},                // left Shift in 32-bit words
      {"1000000000007 ff800000000007ff febeffdff3cfffff fffffffffffffffe", 64, true},
      {"xyz", 64, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(keyBitsHoldTrackedCode(c.bitmap, c.bitsPerWord), c.tracked) << '"' << c.bitmap << '"';
  }
}

}  // namespace
}  // namespace vigil
