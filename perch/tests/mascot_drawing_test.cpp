// The picture's arithmetic, through the real view on the fake platform and a recording canvas:
// what is drawn, in which order, where, and how the effects follow the time since the start.
#include "mascot_drawing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fake_mascot_platform.h"
#include "floating_mascot_view.h"
#include "recording_canvas.h"

namespace perch {
namespace {

using Kind = DrawCall::Kind;

void expectRect(const Rect& actual, const Rect& expected, double tolerance = 1e-9) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.width, expected.width, tolerance);
  EXPECT_NEAR(actual.height, expected.height, tolerance);
}

void expectColor(const Color& actual, const Color& expected, double tolerance = 1e-9) {
  EXPECT_NEAR(actual.red, expected.red, tolerance);
  EXPECT_NEAR(actual.green, expected.green, tolerance);
  EXPECT_NEAR(actual.blue, expected.blue, tolerance);
  EXPECT_NEAR(actual.alpha, expected.alpha, tolerance);
}

Rect squareAround(Point c, double side) { return {c.x - side / 2, c.y - side / 2, side, side}; }

constexpr Color white{1, 1, 1, 1};
constexpr Point expandedCenter{188, 72};

// The view on the fake platform, at a chosen size, optionally with an avatar of a chosen size.
struct Scene {
  explicit Scene(Size viewSize, std::optional<Size> avatarSize = std::nullopt) {
    if (avatarSize) {
      platform.imageLoader = [size = *avatarSize](const std::string&) {
        return std::make_unique<FakeImage>(size);
      };
    }
    view = std::make_unique<FloatingMascotView>(
        platform, owner, avatarSize ? std::optional<std::string>("/avatar.png") : std::nullopt);
    view->setFrame({0, 0, viewSize.width, viewSize.height});
  }
  RecordingCanvas draw() {
    RecordingCanvas canvas;
    view->draw(canvas);
    return canvas;
  }
  FakeMascotPlatform platform;
  DrawingOnlyOwner owner;
  std::unique_ptr<FloatingMascotView> view;
};

// The effects of a feedback that began `elapsed` seconds ago, in the default expanded view.
std::vector<DrawCall> effectsAt(double elapsed) {
  Scene scene({220, 144});
  scene.view->startFeedback();
  scene.platform.advance(elapsed);
  RecordingCanvas canvas = scene.draw();
  EXPECT_GE(canvas.calls.size(), 5u);
  return {canvas.calls.begin(), canvas.calls.begin() + 5};
}

struct Ring {
  double diameter, alpha, lineWidth;
};

void expectRings(const std::vector<DrawCall>& effects, const std::vector<Ring>& rings) {
  for (size_t i = 0; i < rings.size(); ++i) {
    SCOPED_TRACE("ring " + std::to_string(i + 1));
    const DrawCall& c = effects.at(2 + i);
    ASSERT_EQ(c.kind, Kind::stroke);
    expectRect(c.rect, squareAround(expandedCenter, rings[i].diameter), 1e-3);
    expectColor(c.color, {0.52, 0.43, 1.0, rings[i].alpha}, 1e-5);
    EXPECT_NEAR(c.lineWidth, rings[i].lineWidth, 1e-5);
  }
}

void expectGlows(const std::vector<DrawCall>& effects, double outerDiameter, double outerAlpha,
                 double innerDiameter) {
  ASSERT_EQ(effects.at(0).kind, Kind::gradient);
  expectRect(effects[0].rect, squareAround(expandedCenter, outerDiameter), 1e-3);
  expectColor(effects[0].color, {0.6, 0.5, 1.0, outerAlpha}, 1e-5);
  expectColor(effects[0].edge, {0.45, 0.42, 1.0, 0.0});
  ASSERT_EQ(effects.at(1).kind, Kind::gradient);
  expectRect(effects[1].rect, squareAround(expandedCenter, innerDiameter), 1e-3);
  expectColor(effects[1].color, {0.58, 0.47, 1.0, 0.72});
  expectColor(effects[1].edge, {0.45, 0.4, 1.0, 0.0});
}

// --- layers -----------------------------------------------------------------------------------

TEST(MascotDrawingTest, IdleButtonIsDiscMonogramOnWhiteInsideTheCircleThenRim) {
  Scene scene({56, 56});
  RecordingCanvas canvas = scene.draw();
  ASSERT_EQ(canvas.kinds(), (std::vector<Kind>{Kind::fill, Kind::save, Kind::clip, Kind::fill,
                                               Kind::text, Kind::restore, Kind::stroke}));
  const auto& c = canvas.calls;
  expectRect(c[0].rect, {6, 6, 44, 44});
  expectColor(c[0].color, white);
  expectRect(c[2].rect, {6, 6, 44, 44});
  expectRect(c[3].rect, {6, 6, 44, 44});
  expectColor(c[3].color, white);
  EXPECT_EQ(c[4].text, "H");
  EXPECT_EQ(c[4].origin, (Point{20, 15})) << "fixed offsets from the centre, not measured";
  EXPECT_EQ(c[4].font.size, 22);
  EXPECT_EQ(c[4].font.weight, FontWeight::bold);
  expectColor(c[4].color, {0.42, 0.34, 0.9, 1.0});
  expectRect(c[6].rect, {6.5, 6.5, 43, 43});
  expectColor(c[6].color, {1, 1, 1, 0.7});
  EXPECT_EQ(c[6].lineWidth, 1.0);
  EXPECT_TRUE(canvas.measured.empty()) << "the idle picture measures no text";
}

TEST(MascotDrawingTest, StartingPictureIsEffectsThenBubbleThenTheButton) {
  Scene scene({220, 144});
  scene.view->startFeedback();
  scene.platform.advance(0.4);
  RecordingCanvas canvas = scene.draw();
  ASSERT_EQ(
      canvas.kinds(),
      (std::vector<Kind>{Kind::gradient, Kind::gradient, Kind::stroke, Kind::stroke, Kind::stroke,
                         Kind::fill, Kind::fill, Kind::text, Kind::fill, Kind::save, Kind::clip,
                         Kind::fill, Kind::text, Kind::restore, Kind::stroke}));
  const auto& c = canvas.calls;
  EXPECT_EQ(canvas.measured, (std::vector<std::string>{"I'm listening"}));

  // Measured label 80.5 x 16.25: the bubble is 108.5 wide, its right edge 12 left of the button.
  const Rect bubble{166 - 12 - 80.5 - 28, 58, 108.5, 28};
  expectRect(c[5].rect, bubble);
  expectColor(c[5].color, {0.118, 0.114, 0.149, 0.94});
  // Rounded with radius 10: a point of the path's first straight run starts 10 in.
  EXPECT_EQ(c[5].path.elements()[0].points[0], (Point{bubble.x + 10, 58}));

  // The tail points right at the button from the bubble's right edge: 12 high, 6 long.
  expectRect(c[6].rect, {154, 66, 6, 12});
  expectColor(c[6].color, {0.118, 0.114, 0.149, 0.94});
  bool tipFound = false;
  for (const Path::Element& e : c[6].path.elements()) tipFound |= e.points[0] == Point{160, 72};
  EXPECT_TRUE(tipFound);

  EXPECT_EQ(c[7].text, "I'm listening");
  EXPECT_EQ(c[7].origin, (Point{bubble.x + 14, 72 - 8.125}))
      << "14 in from the left, the line box centred vertically";
  EXPECT_EQ(c[7].font.size, 13);
  EXPECT_EQ(c[7].font.weight, FontWeight::semibold);
  expectColor(c[7].color, white);

  expectRect(c[8].rect, {166, 50, 44, 44});
  EXPECT_EQ(c[12].origin, (Point{180, 59}));
  expectRect(c[14].rect, {166.5, 50.5, 43, 43});
}

TEST(MascotDrawingTest, BubbleFollowsTheMeasuredLabelUnrounded) {
  Scene scene({220, 144});
  scene.view->startFeedback();
  RecordingCanvas canvas;
  canvas.textSize = {91.37, 15.6};
  scene.view->draw(canvas);
  expectRect(canvas.calls.at(5).rect, {166 - 12 - 91.37 - 28, 58, 91.37 + 28, 28});
  EXPECT_EQ(canvas.calls.at(7).origin, (Point{166 - 12 - 91.37 - 28 + 14, 72 - 7.8}));
}

TEST(MascotDrawingTest, NotStartingInTheExpandedViewDrawsOnlyTheButton) {
  Scene scene({220, 144});
  scene.view->startFeedback();
  scene.platform.advance(1);
  scene.view->stopFeedback();
  RecordingCanvas canvas = scene.draw();
  ASSERT_EQ(canvas.kinds(), (std::vector<Kind>{Kind::fill, Kind::save, Kind::clip, Kind::fill,
                                               Kind::text, Kind::restore, Kind::stroke}));
  expectRect(canvas.calls[0].rect, {166, 50, 44, 44});
  EXPECT_TRUE(canvas.measured.empty());
}

// --- avatar -----------------------------------------------------------------------------------

TEST(MascotDrawingTest, AvatarCoversTheCircleKeepingItsAspectRatio) {
  struct Case {
    Size viewSize, imageSize;
    Rect drawn;
  };
  const Case cases[] = {
      {{56, 56}, {200, 100}, {-16, 6, 88, 44}},     // scale 0.44, the larger of 0.22 and 0.44
      {{220, 144}, {200, 100}, {144, 50, 88, 44}},  // centred on (188, 72)
      {{56, 56}, {100, 200}, {6, -16, 44, 88}},
      {{56, 56}, {10, 10}, {6, 6, 44, 44}},  // a square goes exactly into the button
      {{56, 56}, {880, 880}, {6, 6, 44, 44}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.imageSize.width << " x " << c.imageSize.height);
    Scene scene(c.viewSize, c.imageSize);
    RecordingCanvas canvas = scene.draw();
    ASSERT_EQ(canvas.kinds(), (std::vector<Kind>{Kind::fill, Kind::save, Kind::clip, Kind::image,
                                                 Kind::restore, Kind::stroke}));
    expectRect(canvas.calls[3].rect, c.drawn);
  }
}

TEST(MascotDrawingTest, AvatarWithoutAreaLeavesTheWhiteDiscWithoutMonogram) {
  for (Size size : {Size{0, 50}, Size{50, 0}, Size{-3, 10}}) {
    Scene scene({56, 56}, size);
    ASSERT_NE(scene.view->avatar(), nullptr);
    RecordingCanvas canvas = scene.draw();
    EXPECT_EQ(canvas.kinds(),
              (std::vector<Kind>{Kind::fill, Kind::save, Kind::clip, Kind::restore, Kind::stroke}));
  }
}

TEST(MascotDrawingTest, AvatarIsLoadedOnceAtConstructionAndOnlyWithAPath) {
  Scene withPath({56, 56}, Size{64, 64});
  withPath.draw();
  withPath.view->startFeedback();
  withPath.draw();
  EXPECT_EQ(withPath.platform.loadedImagePaths, (std::vector<std::string>{"/avatar.png"}));

  Scene withoutPath({56, 56});
  EXPECT_TRUE(withoutPath.platform.loadedImagePaths.empty());

  // An unreadable file: the monogram, nothing else.
  FakeMascotPlatform platform;
  DrawingOnlyOwner owner;
  FloatingMascotView view(platform, owner, "/not-an-image.txt");
  EXPECT_EQ(view.avatar(), nullptr);
  RecordingCanvas canvas;
  view.draw(canvas);
  EXPECT_EQ(canvas.calls.at(4).text, "H");
}

// --- effects over time ------------------------------------------------------------------------

TEST(MascotDrawingTest, EffectsFollowTheTimeSinceTheFeedbackBegan) {
  {
    SCOPED_TRACE("t = 0");
    const auto e = effectsAt(0);
    expectGlows(e, 83.16, 0.5642, 59);
    expectRings(e, {{44, 0.95, 2.5}, {44, 0.95, 2.5}, {44, 0.95, 2.5}});
  }
  {
    SCOPED_TRACE("t = 0.4: the pulse at its height");
    const auto e = effectsAt(0.4);
    expectGlows(e, 90.72, 0.62, 63.72);
    expectRings(e, {{59.221622, 0.744595, 1.959459}, {44, 0.95, 2.5}, {44, 0.95, 2.5}});
  }
  {
    SCOPED_TRACE("t = 0.925: ring 1 half way");
    const auto e = effectsAt(0.925);
    expectGlows(e, 79.596241, 0.537896, 56.775007);
    expectRings(e, {{79.2, 0.475, 1.25}, {54.214286, 0.780357, 2.053571}, {44, 0.95, 2.5}});
  }
  {
    SCOPED_TRACE("t = 1.2: the pulse at its low");
    const auto e = effectsAt(1.2);
    expectGlows(e, 75.6, 0.5084, 54.28);
    expectRings(e, {{89.664865, 0.333784, 0.878378},
                    {61.704762, 0.655952, 1.726190},
                    {52.090323, 0.858065, 2.258065}});
  }
  {
    SCOPED_TRACE("t = 1.6: ring 2 half way, ring 1 at its thinnest");
    const auto e = effectsAt(1.6);
    expectGlows(e, 83.16, 0.5642, 59);
    expectRings(
        e, {{104.886486, 0.128378, 0.8}, {72.6, 0.475, 1.25}, {73.664516, 0.612903, 1.612903}});
  }
}

TEST(MascotDrawingTest, RingsThinToAFloorButFadeOnAndStartOverEachPeriod) {
  // Past 68% of its period a ring keeps a 0.8 line while its alpha goes on falling.
  const auto late = effectsAt(1.295);  // ring 1 at 70%
  EXPECT_NEAR(late[2].lineWidth, 0.8, 1e-9);
  EXPECT_NEAR(late[2].color.alpha, 0.285, 1e-6);
  const auto later = effectsAt(1.665);  // ring 1 at 90%
  EXPECT_NEAR(later[2].lineWidth, 0.8, 1e-9);
  EXPECT_NEAR(later[2].color.alpha, 0.095, 1e-6);

  // One period on, ring 1 is where it was: 1.85 + 0.4 looks like 0.4.
  const auto again = effectsAt(2.25);
  expectRings(
      again,
      {{59.221622, 0.744595, 1.959459}, {90.304762, 0.180952, 0.8}, {108.722581, 0.214516, 0.8}});
}

TEST(MascotDrawingTest, ClockThatRunsBackKeepsEveryRingAtTheButtonSize) {
  for (double elapsed : {-0.3, -5.0, std::numeric_limits<double>::quiet_NaN()}) {
    SCOPED_TRACE(elapsed);
    RecordingCanvas canvas;
    drawStartingEffects(canvas, expandedCenter, elapsed);
    ASSERT_EQ(canvas.calls.size(), 5u);
    for (int i = 2; i < 5; ++i) {
      expectRect(canvas.calls[i].rect, squareAround(expandedCenter, 44));
      EXPECT_EQ(canvas.calls[i].color.alpha, 0.95);
      EXPECT_EQ(canvas.calls[i].lineWidth, 2.5);
    }
  }
  RecordingCanvas canvas;
  drawStartingEffects(canvas, expandedCenter, -0.3);
  expectGlows(canvas.calls, 76.175471, 0.512648, 54.639289);  // the pulse goes on from the sine
}

// --- paths ------------------------------------------------------------------------------------

TEST(CanvasPathTest, BoundsFollowTheCurvesNotTheirControlPoints) {
  expectRect(Path::oval({10, 20, 30, 40}).bounds(), {10, 20, 30, 40}, 1e-12);
  expectRect(Path::roundedRect({10, 20, 100, 28}, 10, 10).bounds(), {10, 20, 100, 28}, 1e-12);

  Path arch;
  arch.moveTo({0, 0});
  arch.curveTo({0, 10}, {10, 10}, {10, 0});
  expectRect(arch.bounds(), {0, 0, 10, 7.5}, 1e-12);

  Path hump;
  hump.moveTo({0, 0});
  hump.quadTo({5, 10}, {10, 0});
  expectRect(hump.bounds(), {0, 0, 10, 5}, 1e-12);

  EXPECT_TRUE(Path().bounds().isEmpty());
}

TEST(CanvasPathTest, RoundedRectRadiiAreCutToHalfTheSide) {
  // A radius larger than half the height makes a capsule, not a shape that overshoots.
  const Path capsule = Path::roundedRect({0, 0, 100, 20}, 30, 30);
  expectRect(capsule.bounds(), {0, 0, 100, 20}, 1e-12);
  EXPECT_EQ(capsule.elements()[0].points[0], (Point{30, 0}));
  EXPECT_EQ(capsule.elements()[2].points[2], (Point{100, 10}));
}

}  // namespace
}  // namespace perch
