// The part of a panel the X window shows, for panels of every size and place.
#include <gtest/gtest.h>

#include "x11_screen_space.h"

namespace perch {
namespace {

TEST(ShownPartTest, IsThePanelsPixelsOnTheScreensAndNothingOffThem) {
  const XRect screens{0, 0, 1280, 800};
  struct Case {
    Rect panel;  // root coordinates
    ShownPart expected;
  };
  const Case cases[] = {
      {{100, 50, 220, 144}, {{100, 50, 220, 144}, 0, 0, 144}},
      {{-20.4, 790, 56, 56}, {{0, 790, 36, 10}, 20, 0, 56}},
      {{10, 10, 4e4, 3e4}, {{10, 10, 1270, 790}, 0, 0, 3e4}},
      {{-1e12, -5, 2e12, 1e10}, {{0, 0, 1280, 800}, 1e12, 5, 1e10}},
      {{65636, 100, 56, 56}, {{-1, -1, 1, 1}, 0, 0, 56}},
      {{1e308, 1e308, 1e308, 1e308}, {{-1, -1, 1, 1}, 0, 0, 1e308}},
      {{-1e308, 100, 56, 56}, {{-1, -1, 1, 1}, 0, 0, 56}},
      {{1280, 0, 56, 56}, {{-1, -1, 1, 1}, 0, 0, 56}},
      {{100, 100, 0, -3}, {{100, 100, 1, 1}, 0, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.panel.x << "," << c.panel.y << " " << c.panel.width << "x" << c.panel.height);
    const ShownPart part = ScreenSpace::shownPart(c.panel, screens);
    EXPECT_EQ(part.window, c.expected.window);
    EXPECT_EQ(part.offsetX, c.expected.offsetX);
    EXPECT_EQ(part.offsetY, c.expected.offsetY);
    EXPECT_EQ(part.panelHeight, c.expected.panelHeight);
  }
}

}  // namespace
}  // namespace perch
