// Frames of a real feedback (the view on the fake platform's clock, drawn on the cairo canvas)
// composed as the X11 window gets them, the ticks redrawing only the glows and rings, against the
// same moments composed whole into fresh pixels: the very same bytes, and the same painted pixels.
#include "frame_composer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "cairo_image.h"
#include "fake_mascot_platform.h"
#include "floating_mascot_view.h"
#include "pixel_rows.h"

namespace perch {
namespace {

// Rows padded, and every byte set beforehand, as a window's image is not cleared.
struct Pixels : PixelRows {
  Pixels(int w, int h) : PixelRows(w, h, 12, 0xa5) {}
  FramePixels frame() { return {bytes.data(), stride, width, height}; }
};

// How many times each pixel is in the region.
std::vector<int> coverage(const std::vector<PixelRect>& region, int width, int height) {
  std::vector<int> counts(width * height, 0);
  for (const PixelRect& r : region) {
    for (int y = r.y; y < r.y + r.height; ++y) {
      for (int x = r.x; x < r.x + r.width; ++x) ++counts[y * width + x];
    }
  }
  return counts;
}

TEST(FrameComposerTest, FramesRedrawnInPartAreThoseDrawnWhole) {
  struct Case {
    const char* name;
    FrameLayout layout;
    int width, height;  // of the picture in pixels: the part of the 220 x 144 panel on the screens
  };
  const Case cases[] = {
      {"shaped", {0, 0, 144, true}, 220, 144},
      {"composited", {0, 0, 144, false}, 220, 144},
      // Cut by the screens' edges on the left and top, and on the right through the rings.
      {"shaped, cut", {30, 20, 144, true}, 170, 124},
      {"composited, cut", {30, 20, 144, false}, 170, 124},
      // At 1.5 and 2 pixels a point: the panel is 330 x 216 and 440 x 288 pixels.
      {"composited, 1.5", {0, 0, 216, false, 1.5}, 330, 216},
      {"shaped, cut, 2", {60, 40, 288, true, 2}, 380, 248},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeMascotPlatform platform;
    DrawingOnlyOwner owner;
    FloatingMascotView view(platform, owner, std::nullopt);
    view.setFrame({0, 0, 220, 144});
    view.startFeedback();
    const FrameComposer::Draw draw = [&](Canvas& canvas) { view.draw(canvas); };

    FrameComposer composer;
    Pixels shown(c.width, c.height);
    FrameLayout layout = c.layout;
    ASSERT_TRUE(composer.compose(shown.frame(), layout, std::nullopt, draw));
    const PixelRect area =
        FrameComposer::pixelsOf(view.startingEffectsArea(), layout, c.width, c.height);
    ASSERT_LT(area.width * area.height, c.width * c.height / 2) << "a part, not nearly all";
    for (int frame = 1; frame <= 120; ++frame) {
      SCOPED_TRACE(testing::Message() << "frame " << frame);
      platform.advance(1.0 / 60 + 0.0007);              // any moment, not only the ticks' own
      if (frame == 80) layout.shaped = !layout.shaped;  // the compositor came or went
      const auto changed =
          composer.compose(shown.frame(), layout, view.startingEffectsArea(), draw);
      ASSERT_TRUE(changed);
      if (frame == 80) {
        EXPECT_EQ(*changed, (PixelRect{0, 0, c.width, c.height})) << "drawn whole once";
      } else {
        EXPECT_EQ(*changed, area) << "only the glows and rings";
      }
      FrameComposer whole;
      Pixels fresh(c.width, c.height);
      ASSERT_TRUE(whole.compose(fresh.frame(), layout, std::nullopt, draw));
      ASSERT_TRUE(shown.samePicture(fresh));
      ASSERT_EQ(coverage(composer.painted(), c.width, c.height),
                coverage(whole.painted(), c.width, c.height));
    }
  }
}

// A part is redrawn only over the last frame composed into the same pixels with the same layout:
// other pixels, another place in the panel or no last frame at all get a whole one.
TEST(FrameComposerTest, WholeFrameWhenThePixelsDoNotHoldTheLastOne) {
  FakeMascotPlatform platform;
  DrawingOnlyOwner owner;
  FloatingMascotView view(platform, owner, std::nullopt);
  view.setFrame({0, 0, 220, 144});
  view.startFeedback();
  const FrameComposer::Draw draw = [&](Canvas& canvas) { view.draw(canvas); };
  const Rect area = view.startingEffectsArea();
  const PixelRect whole{0, 0, 220, 144};
  FrameComposer composer;
  Pixels a(220, 144), b(220, 144);
  const FrameLayout layout{0, 0, 144, true};
  EXPECT_EQ(composer.compose(a.frame(), layout, area, draw), whole) << "no last frame";
  EXPECT_NE(composer.compose(a.frame(), layout, area, draw), whole);
  EXPECT_EQ(composer.compose(b.frame(), layout, area, draw), whole) << "other pixels";
  EXPECT_EQ(composer.compose(b.frame(), {0, 1, 144, true}, area, draw), whole) << "moved";
  composer.forget();
  EXPECT_EQ(composer.compose(b.frame(), {0, 1, 144, true}, area, draw), whole) << "forgotten";
  EXPECT_EQ(composer.compose(b.frame(), {0, 1, 144, true}, Rect{500, 500, 10, 10}, draw),
            PixelRect{})
      << "a part off the picture changes nothing";
}

}  // namespace
}  // namespace perch
