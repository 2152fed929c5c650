#include "evdev_access.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace vigil {
namespace {

TEST(EvdevAccessTest, PermissionAndMissingDevicesGiveTheirVerdicts) {
  const struct {
    const char* name;
    bool inputDirectory;
    std::vector<KeyboardOpening> keyboards;
    int otherReadable, otherDenied;
    bool permitted;
    std::optional<std::string> failure;
  } cases[] = {
      {"no /dev/input",
       false,
       {},
       0,
       0,
       true,
       "There is no /dev/input: this system gives vigil no input devices to read "
       "(a container or a sandbox?)."},
      {"all keyboards open",
       true,
       {{"/dev/input/event3", 0}, {"/dev/input/event7", 0}},
       1,
       0,
       true,
       std::nullopt},
      {"no keyboard yet, devices watchable", true, {}, 2, 1, true, std::nullopt},
      {"no input device at all yet", true, {}, 0, 0, true, std::nullopt},
      {"every keyboard refused",
       true,
       {{"/dev/input/event3", EACCES}, {"/dev/input/event4", EACCES}},
       0,
       3,
       false,
       "Cannot read the keyboard /dev/input/event3: Permission denied (and 1 more keyboard)."},
      {"one keyboard of three refused",
       true,
       {{"/dev/input/event2", 0}, {"/dev/input/event5", EPERM}, {"/dev/input/event6", 0}},
       0,
       0,
       false,
       "Cannot read the keyboard /dev/input/event5: Operation not permitted."},
      {"a keyboard gone while opening is not a refusal",
       true,
       {{"/dev/input/event2", 0}, {"/dev/input/event9", ENOENT}},
       0,
       0,
       true,
       std::nullopt},
      {"no keyboard, and every other device refused",
       true,
       {},
       0,
       4,
       false,
       "Cannot read any input device in /dev/input: Permission denied."},
  };
  for (const auto& c : cases) {
    KeyboardAccess access =
        judgeKeyboardAccess(c.inputDirectory, c.keyboards, c.otherReadable, c.otherDenied);
    EXPECT_EQ(access.permitted, c.permitted) << c.name;
    EXPECT_EQ(access.failure, c.failure) << c.name;
  }
}

}  // namespace
}  // namespace vigil
