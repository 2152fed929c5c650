// The part of a panel the X window shows, for panels of every size and place; points and pixels
// at the scales desktops use.
#include <gtest/gtest.h>

#include <tuple>

#include "screen_space.h"

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

// The idle panel of a "show" at (100, 50) on a 1440 x 900 point screen at each scale, with
// fractions of a pixel rounded (halves up); and a pixel read as points (a drag's "snap", the
// pointer) goes back to the same pixel.
TEST(ScreenSpaceTest, PointsArePlacedOnThePixelsOfTheScaleAndBack) {
  const std::tuple<double, Rect, XRect> cases[] = {
      {1, {260, 750, 56, 56}, {260, 94, 56, 56}},
      {1.5, {260, 750, 56, 56}, {390, 141, 84, 84}},
      {2, {100, 706, 220, 144}, {200, 100, 440, 288}},
      {1.5, {100.25, 750, 57, 56}, {150, 141, 86, 84}},   // 150.375 and 85.5
      {1.5, {100.5, 750, 56, 56.5}, {151, 140, 84, 85}},  // 150.75; 140.25 and 84.75
      {2, {0.25, 0, 56, 56}, {1, 1688, 112, 112}},        // 0.5
  };
  for (const auto& [s, frame, window] : cases) {
    const ScreenSpace space({0, 0, 1440 * s, 900 * s}, s);
    const XRect screens{0, 0, unsigned(1440 * s), unsigned(900 * s)};
    EXPECT_EQ(ScreenSpace::shownPart(space.toRoot(frame), screens).window, window) << s;
    for (int x = 0; x < 40; ++x) {
      const Rect points = space.fromRoot(Rect{double(x), 3.0 * x, 56 * s, 56 * s});
      const XRect back = ScreenSpace::shownPart(space.toRoot(points), screens).window;
      EXPECT_EQ(back, (XRect{x, 3 * x, unsigned(56 * s), unsigned(56 * s)})) << s;
      const Point pointer = space.fromRoot(Point{double(x), 3.0 * x});
      EXPECT_DOUBLE_EQ(pointer.x, x / s);
      EXPECT_DOUBLE_EQ(pointer.y, (900 * s - 3 * x) / s);
    }
  }
}

// The input shape's pixels for the hit area are exactly the pixels whose pointer events the hit
// test takes, at every scale, for a panel whole in its window and one cut by the screens.
TEST(ScreenSpaceTest, HitAreaPixelsAreThoseThePointerHitTestTakes) {
  struct Case {
    double scale;
    Rect hit;  // view points
    ShownPart part;
    PixelRect expected;
  };
  const Case cases[] = {
      {1, {160, 44, 56, 56}, {{0, 0, 220, 144}, 0, 0, 144}, {160, 44, 56, 56}},
      {1.5, {160, 44, 56, 56}, {{0, 0, 330, 216}, 0, 0, 216}, {240, 66, 84, 84}},
      {2, {160, 44, 56, 56}, {{0, 0, 440, 288}, 0, 0, 288}, {320, 88, 112, 112}},
      {2, {0, 0, 56, 56}, {{0, 0, 112, 112}, 0, 0, 112}, {0, 0, 112, 112}},
      // Edges on pixel centres (1.5 and 4.5 pixels): the near one is in, the far one out.
      {1.5, {1, 1, 2, 2}, {{0, 0, 9, 9}, 0, 0, 9}, {1, 5, 3, 3}},
      // Cut by the window's right and bottom edges.
      {1.25, {160.2, 44, 56, 56}, {{0, 0, 150, 100}, 100, 20, 180}, {100, 35, 50, 65}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "scale " << c.scale << ", hit x " << c.hit.x);
    const PixelRect pixels = ScreenSpace::pixelsHolding(c.hit, c.part, c.scale);
    EXPECT_EQ(pixels, c.expected);
    for (int y = 0; y < int(c.part.window.height); ++y) {
      for (int x = 0; x < int(c.part.window.width); ++x) {
        const bool shaped = x >= pixels.x && x < pixels.x + pixels.width && y >= pixels.y &&
                            y < pixels.y + pixels.height;
        ASSERT_EQ(c.hit.contains(ScreenSpace::viewPoint(x, y, c.part, c.scale)), shaped)
            << x << "," << y;
      }
    }
  }
}

// A widened window holds the panel where it was, with transparent margins within the screens;
// while it stays put, the panel moves within it, and only within it.
TEST(ShownPartTest, AWidenedWindowHoldsThePanelWithinItsMargins) {
  const XRect screens{0, 0, 1280, 800};
  const ShownPart wide = ScreenSpace::shownPart({260, 94, 56, 56}, screens, 256);
  EXPECT_EQ(wide.window, (XRect{4, 0, 568, 406}));
  EXPECT_EQ(wide.offsetX, -256);
  EXPECT_EQ(wide.offsetY, -94);
  struct Case {
    Rect panel;
    std::optional<ShownPart> expected;
  };
  const Case cases[] = {
      {{460, 94, 56, 56}, ShownPart{wide.window, -456, -94, 56}},
      {{4, 0, 56, 56}, ShownPart{wide.window, 0, 0, 56}},
      {{516, 350, 56, 56}, ShownPart{wide.window, -512, -350, 56}},
      {{3, 94, 56, 56}, std::nullopt},
      {{517, 94, 56, 56}, std::nullopt},
      {{260, 351, 56, 56}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.panel.x << "," << c.panel.y);
    EXPECT_EQ(ScreenSpace::partWithin(c.panel, wide.window), c.expected);
  }
}

}  // namespace
}  // namespace perch
