#include "floating_mascot_view.h"

#include <gtest/gtest.h>

#include "fake_mascot_platform.h"
#include "floating_mascot_controller.h"
#include "mascot_constants.h"

namespace perch {
namespace {

using Lines = std::vector<std::string>;

// --- geometry -------------------------------------------------------------------------------

TEST(MascotViewGeometryTest, LayoutFollowsTheViewSizeAlone) {
  FakeMascotPlatform platform;
  DrawingOnlyOwner owner;
  FloatingMascotView view(platform, owner, std::nullopt);
  EXPECT_EQ(view.bounds(), (Rect{0, 0, 56, 56}));
  EXPECT_EQ(view.buttonRect(), (Rect{6, 6, 44, 44}));
  EXPECT_EQ(view.hitArea(), (Rect{0, 0, 56, 56}));

  view.setFrame({0, 0, 57, 57});
  EXPECT_FALSE(view.isExpandedLayout());
  EXPECT_EQ(view.buttonRect(), (Rect{6.5, 6.5, 44, 44}));
  view.setFrame({0, 0, 58, 10});
  EXPECT_TRUE(view.isExpandedLayout());
  view.setFrame({0, 0, 10, 58});
  EXPECT_TRUE(view.isExpandedLayout());

  view.setFrame({0, 0, 220, 144});
  EXPECT_EQ(view.buttonRect(), (Rect{166, 50, 44, 44}));
  EXPECT_EQ(view.hitArea(), (Rect{160, 44, 56, 56}));
  EXPECT_FALSE(view.hitArea().contains({100, 100}));
  EXPECT_TRUE(view.hitArea().contains({160, 44}));
  // Half-open: each far edge on its own is outside, the point just inside it is in.
  const struct {
    Point p;
    bool inside;
  } probes[] = {{{215.9, 60}, true}, {{216, 60}, false},  {{180, 99.9}, true},
                {{180, 100}, false}, {{160, 60}, true},   {{159.9, 60}, false},
                {{180, 44}, true},   {{180, 43.9}, false}};
  for (const auto& probe : probes) {
    EXPECT_EQ(view.hitArea().contains(probe.p), probe.inside) << probe.p.x << ", " << probe.p.y;
  }

  // A hit area sticking out of a small expanded view is clipped to it.
  view.setFrame({0, 0, 60, 90});
  EXPECT_EQ(view.buttonRect(), (Rect{6, 50, 44, 44}));
  EXPECT_EQ(view.hitArea(), (Rect{0, 44, 56, 46}));
}

// --- pointer --------------------------------------------------------------------------------

class MascotPointerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controller.applicationDidFinishLaunching();
    controller.show(100, 50, 220, 144);  // idle panel at (260, 750, 56, 56)
    platform.takeLines();
    platform.cursors.clear();
  }
  void press(Point view, Point screen) {
    platform.pointer = screen;
    controller.mascotView().mouseDown(view);
  }
  void moveTo(Point screen) {
    platform.pointer = screen;
    controller.mascotView().mouseDragged();
  }
  void release(Point view) { controller.mascotView().mouseUp(view); }

  FakeMascotPlatform platform;
  FloatingMascotController controller{platform, std::nullopt};
};

TEST_F(MascotPointerTest, ClickOpensTheDeepLinkOnceAndNothingMoves) {
  press({28, 28}, {288, 778});
  release({28, 28});
  EXPECT_EQ(platform.openedURLs, Lines{"halcy://voice-capture/silent?source=mascot"});
  EXPECT_EQ(platform.cursors, (std::vector<Cursor>{Cursor::closedHand, Cursor::pointingHand}));
  EXPECT_EQ(platform.frame, (Rect{260, 750, 56, 56}));
  EXPECT_TRUE(platform.takeLines().empty());
  EXPECT_FALSE(controller.mascotView().isTrackingPress());
}

TEST_F(MascotPointerTest, MovingLessThanTheThresholdIsStillAClick) {
  press({28, 28}, {288, 778});
  moveTo({288 + 4.9, 778});
  moveTo({288 + 3, 778 + 3.9});  // 4.95 points away
  release({30, 28});
  EXPECT_EQ(platform.frame, (Rect{260, 750, 56, 56}));
  EXPECT_EQ(platform.openedURLs.size(), 1u);
}

TEST_F(MascotPointerTest, ExactlyTheThresholdStartsADragThatMovesByTheWholeOffset) {
  press({28, 28}, {288, 778});
  moveTo({288 + 3, 778 - 4});  // exactly 5 points
  EXPECT_EQ(platform.frame, (Rect{263, 746, 56, 56}));
  moveTo({288 + 1, 778 + 1});  // once dragging, any movement follows
  EXPECT_EQ(platform.frame, (Rect{261, 751, 56, 56}));
  moveTo({400, 500});
  release({0, 0});
  EXPECT_TRUE(platform.openedURLs.empty());
  // The panel is at (372, 472): its button centre is (400, 900 - 500) in top-left coordinates.
  EXPECT_EQ(platform.takeLines(), Lines{R"({"event":"snap","x":212,"y":328})"});
  EXPECT_EQ(platform.cursors.back(), Cursor::pointingHand);
}

TEST_F(MascotPointerTest, DragDuringFeedbackCollapsesAndPlacesFromTheRecordedOrigin) {
  controller.mascotView().startFeedback();
  ASSERT_EQ(platform.frame, (Rect{100, 706, 220, 144}));
  press({188, 72}, {288, 778});  // on the expanded layout's button
  moveTo({298, 778});
  EXPECT_FALSE(controller.mascotView().isStarting());
  EXPECT_EQ(platform.frame, (Rect{110, 706, 56, 56})) << "idle size at the expanded origin + dx";
  platform.advance(5);
  release({0, 0});
  EXPECT_EQ(platform.takeLines().size(), 1u) << "one snap, no completion";
}

TEST_F(MascotPointerTest, FeedbackStartedMidDragSnapsFromTheExpandedPanel) {
  // A host size whose button sits nearer the bottom than the top: 200 high, button centre 72 up.
  controller.show(100, 50, 220, 200);  // idle panel at (260, 750, 56, 56)
  press({28, 28}, {288, 778});
  moveTo({318, 778});
  controller.mascotView().startFeedback();  // back to the expanded frame at the host's place
  ASSERT_EQ(platform.frame, (Rect{100, 650, 220, 200}));
  release({0, 0});
  EXPECT_EQ(platform.takeLines(), Lines{R"({"event":"snap","x":100,"y":50})"});
}

TEST_F(MascotPointerTest, PressOutsideTheHitAreaIsNotRecorded) {
  controller.mascotView().startFeedback();
  press({100, 100}, {200, 806});  // left of the expanded button
  EXPECT_FALSE(controller.mascotView().isTrackingPress());
  EXPECT_TRUE(platform.cursors.empty());
  moveTo({300, 900});
  EXPECT_EQ(platform.frame, (Rect{100, 706, 220, 144}));
  release({188, 72});  // released on the button: a click all the same
  EXPECT_EQ(platform.openedURLs.size(), 1u);
}

TEST_F(MascotPointerTest, ReleaseOutsideAfterAShortMoveDoesNothing) {
  controller.mascotView().startFeedback();
  press({188, 72}, {288, 778});
  moveTo({290, 778});
  release({20, 20});
  EXPECT_TRUE(platform.openedURLs.empty());
  EXPECT_EQ(platform.cursors, std::vector<Cursor>{Cursor::closedHand});
  EXPECT_FALSE(controller.mascotView().isTrackingPress());
  EXPECT_TRUE(controller.mascotView().isStarting());
}

TEST_F(MascotPointerTest, APressEndedWithoutReleaseSnapsOnlyIfItDraggedAndLeavesNothingHeld) {
  struct Case {
    Point dragTo;  // the pointer when the press is cut short
    bool byHide;   // else the window system ended it
    Lines lines;
  };
  const Case cases[] = {
      {{288, 778}, false, {}},
      {{400, 500}, false, {R"({"event":"snap","x":212,"y":328})"}},
      {{288, 778}, true, {}},
      {{400, 500}, true, {R"({"event":"snap","x":212,"y":328})"}},
  };
  for (const Case& c : cases) {
    SetUp();
    press({28, 28}, {288, 778});
    moveTo(c.dragTo);
    if (c.byHide) {
      controller.hide();
    } else {
      controller.mascotView().mouseCancelled();
    }
    EXPECT_EQ(platform.takeLines(), c.lines);
    EXPECT_TRUE(platform.openedURLs.empty());
    EXPECT_EQ(platform.cursors.back(), Cursor::arrow);
    EXPECT_FALSE(controller.mascotView().isTrackingPress());
    const Rect before = platform.frame;
    moveTo({600, 600});  // the bare pointer moves nothing
    EXPECT_EQ(platform.frame, before);
    controller.mascotView().mouseCancelled();
    EXPECT_TRUE(platform.takeLines().empty()) << "a press ends once";
  }
}

TEST_F(MascotPointerTest, CursorFollowsTheTrackingTable) {
  FloatingMascotView& view = controller.mascotView();
  view.mouseEntered();
  view.cursorUpdate();
  press({28, 28}, {288, 778});
  view.cursorUpdate();
  release({28, 28});
  view.mouseExited();
  EXPECT_EQ(platform.cursors,
            (std::vector<Cursor>{Cursor::pointingHand, Cursor::pointingHand, Cursor::closedHand,
                                 Cursor::closedHand, Cursor::pointingHand, Cursor::arrow}));
  const int redisplays = platform.redisplayCount;
  view.mouseEntered();
  EXPECT_EQ(platform.redisplayCount, redisplays) << "hovering never redraws";
}

}  // namespace
}  // namespace perch
