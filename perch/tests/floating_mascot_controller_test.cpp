#include "floating_mascot_controller.h"

#include <gtest/gtest.h>

#include "fake_mascot_platform.h"
#include "mascot_constants.h"
#include "perch_lines.h"

namespace perch {
namespace {

using Lines = std::vector<std::string>;

class MascotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    controller.applicationDidFinishLaunching();
    EXPECT_EQ(platform.takeLines(), Lines{R"({"event":"status","message":"ready"})"});
  }
  void send(const std::string& line) {
    if (auto command = decodeMascotCommand(line)) controller.dispatch(*command);
  }
  FloatingMascotView& view() { return controller.mascotView(); }

  FakeMascotPlatform platform;
  FloatingMascotController controller{platform, std::nullopt};
};

// --- placement ------------------------------------------------------------------------------

TEST_F(MascotTest, LaunchLeavesThePanelHiddenUntilTheFirstShow) {
  EXPECT_FALSE(platform.visible);
  EXPECT_TRUE(platform.appliedFrames.empty());
  send(R"({"command":"show"})");
  EXPECT_TRUE(platform.visible);
  EXPECT_EQ(platform.frame, (Rect{160, 800, 56, 56}));
  EXPECT_EQ(view().bounds(), (Rect{0, 0, 56, 56}));
}

TEST_F(MascotTest, ShowPlacesTheIdleSquareWhereTheExpandedButtonWouldBe) {
  send(R"({"command":"show","x":100,"y":50})");
  EXPECT_EQ(platform.frame, (Rect{260, 750, 56, 56}));
  EXPECT_TRUE(platform.takeLines().empty()) << "show has no reply";
}

TEST_F(MascotTest, ShowDuringFeedbackKeepsTheExpandedFrame) {
  send(R"({"command":"startFeedback"})");
  send(R"({"command":"show","x":100,"y":50})");
  EXPECT_EQ(platform.frame, (Rect{100, 706, 220, 144}));
  EXPECT_EQ(view().bounds(), (Rect{0, 0, 220, 144}));
  EXPECT_TRUE(view().isStarting()) << "show neither starts nor stops the feedback";
}

TEST_F(MascotTest, ShowDefaultsAreAppliedAfreshEveryTime) {
  send(R"({"command":"show","x":100,"y":50,"width":300,"height":200})");
  send(R"({"command":"show","width":300})");
  EXPECT_EQ(controller.expandedSize(), (Size{300, 144}));
  EXPECT_EQ(controller.expandedTopLeft(), (Point{0, 0}));
  send(R"({"command":"show"})");
  EXPECT_EQ(controller.expandedSize(), (Size{220, 144}));
}

TEST_F(MascotTest, SnapInvertsTheIdleFrame) {
  send(R"({"command":"show"})");
  platform.setPanelOrigin({400, 300});  // where a drag left the idle panel
  controller.persistCurrentPanelPosition();
  EXPECT_EQ(platform.takeLines(), Lines{R"({"event":"snap","x":240,"y":500})"});
  EXPECT_EQ(controller.expandedTopLeft(), (Point{240, 500}));
  send(R"({"command":"show","x":240,"y":500})");
  EXPECT_EQ(platform.frame, (Rect{400, 300, 56, 56}));
}

TEST_F(MascotTest, SnapKeepsFractions) {
  send(R"({"command":"show"})");
  platform.setPanelOrigin({400.25, 300.5});
  controller.persistCurrentPanelPosition();
  EXPECT_EQ(platform.takeLines(), Lines{R"({"event":"snap","x":240.25,"y":499.5})"});
}

TEST_F(MascotTest, NegativeYMatchesNoScreenAndFallsBackToTheMainScreen) {
  platform.screenFrames = {{0, 0, 1440, 900}, {-1000, 0, 1000, 2000}};
  EXPECT_EQ(controller.screenForTopLeft(100, -10), std::nullopt);
  send(R"({"command":"startFeedback"})");
  send(R"({"command":"show","x":100,"y":-10})");
  EXPECT_EQ(platform.frame, (Rect{100, 900 + 10 - 144, 220, 144}));
}

TEST_F(MascotTest, TwoScreensSideBySideArePickedByXWithInclusiveEdges) {
  platform.screenFrames = {{0, 0, 1440, 900}, {1440, 0, 1920, 1080}};
  EXPECT_EQ(controller.screenForTopLeft(1440, 0), (Rect{0, 0, 1440, 900}));
  EXPECT_EQ(controller.screenForTopLeft(1500, 0), (Rect{1440, 0, 1920, 1080}));
  EXPECT_EQ(controller.screenForTopLeft(3360, 5000), (Rect{1440, 0, 1920, 1080}));
  send(R"({"command":"startFeedback"})");
  send(R"({"command":"show","x":1500,"y":100})");
  EXPECT_EQ(platform.frame, (Rect{1500, 1080 - 100 - 144, 220, 144}));
  // The idle square's own corner picks its screen: here the second one too.
  send(R"({"command":"stopFeedback"})");
  EXPECT_EQ(platform.frame, (Rect{1660, 1080 - 144 - 56, 56, 56}));
}

TEST_F(MascotTest, PositionsOffEveryScreenAreUsedAsTheyCome) {
  send(R"({"command":"show","x":100000,"y":50})");
  EXPECT_EQ(platform.frame, (Rect{100160, 750, 56, 56}));
  EXPECT_TRUE(platform.visible);
  send(R"({"command":"show","x":0,"y":0,"width":-20,"height":0})");
  EXPECT_EQ(platform.frame, (Rect{-80, 900 + 100 - 56, 56, 56}));
}

TEST_F(MascotTest, WithNoScreenAtAllTheFallbackHeightsApply) {
  platform.screenFrames.clear();
  send(R"({"command":"show","x":10,"y":20})");
  // S = 56: iL = 10 + 220 - 60, iT = 20 + 144 - 100, y = 56 - iT - 56.
  EXPECT_EQ(platform.frame, (Rect{170, -64, 56, 56}));
  send(R"({"command":"startFeedback"})");
  EXPECT_EQ(platform.frame, (Rect{10, 144 - 20 - 144, 220, 144}));
  platform.setPanelOrigin({0, 0});
  send(R"({"command":"stopFeedback"})");
  platform.setPanelOrigin({0, 0});
  platform.takeLines();
  controller.persistCurrentPanelPosition();  // S = the panel's own top
  EXPECT_EQ(platform.takeLines(), Lines{R"({"event":"snap","x":-160,"y":-44})"});
}

// --- dispatch -------------------------------------------------------------------------------

TEST_F(MascotTest, UnknownAndMiscasedCommandsDoNothing) {
  send(R"({"command":"Show"})");
  send(R"({"command":"SHOW"})");
  send(R"({"command":"jump"})");
  send(R"({"command":"quit "})");
  EXPECT_FALSE(platform.visible);
  EXPECT_FALSE(platform.terminated);
  EXPECT_TRUE(platform.appliedFrames.empty());
  EXPECT_TRUE(platform.takeLines().empty());
  send(R"({"command":"quit"})");
  EXPECT_TRUE(platform.terminated);
}

// --- start feedback -------------------------------------------------------------------------

TEST_F(MascotTest, FeedbackExpandsTicksAndCompletesOnceAfterThreeSeconds) {
  send(R"({"command":"show","x":100,"y":50})");
  const double started = platform.now();
  send(R"({"command":"startFeedback"})");
  EXPECT_EQ(platform.frame, (Rect{100, 706, 220, 144}));
  EXPECT_TRUE(view().isStarting());
  EXPECT_EQ(view().startTime(), started);
  EXPECT_EQ(platform.timersRunning(), 1);
  const int redisplays = platform.redisplayCount;
  platform.advance(1.0);
  EXPECT_GE(platform.redisplayCount - redisplays, 59);  // a tick every 1/60 s
  EXPECT_LE(platform.redisplayCount - redisplays, 61);
  platform.advance(1.999);
  EXPECT_TRUE(platform.takeLines().empty());
  EXPECT_TRUE(view().isStarting());
  platform.advance(0.001);
  EXPECT_EQ(platform.takeLines(), Lines{kComplete});
  EXPECT_FALSE(view().isStarting());
  EXPECT_EQ(platform.frame, (Rect{260, 750, 56, 56})) << "idle before the host reads the event";
  EXPECT_EQ(platform.timersRunning(), 0);
  EXPECT_EQ(view().startTime(), started) << "kept after the end";
  const int after = platform.redisplayCount;
  platform.advance(10);
  EXPECT_EQ(platform.redisplayCount, after) << "no wake-ups while idle";
  EXPECT_TRUE(platform.takeLines().empty());
}

// A tick changes only the glows and rings: it asks for that square alone (centred on the button
// at (188, 72), as wide as the widest ring, 2.9 x 44 plus its 2.5-point line, cut to the view).
// Anything else that changes the picture asks for all of it.
TEST_F(MascotTest, TicksRedrawOnlyTheEffectsAreaEverythingElseTheWholeView) {
  send(R"({"command":"show","x":100,"y":50})");
  send(R"({"command":"startFeedback"})");
  EXPECT_TRUE(platform.redisplayAreas.empty()) << "the start redraws everything";
  platform.advance(0.5);
  ASSERT_GE(platform.redisplayAreas.size(), 29u);
  const Rect area = platform.redisplayAreas.front();
  EXPECT_NEAR(area.x, 188 - 65.05, 1e-9);
  EXPECT_NEAR(area.y, 72 - 65.05, 1e-9);
  EXPECT_NEAR(area.width, 220 - (188 - 65.05), 1e-9);
  EXPECT_NEAR(area.height, 2 * 65.05, 1e-9);
  for (const Rect& r : platform.redisplayAreas) EXPECT_EQ(r, area);
  const size_t ticks = platform.redisplayAreas.size();
  const int redisplays = platform.redisplayCount;
  send(R"({"command":"stopFeedback"})");
  EXPECT_GT(platform.redisplayCount, redisplays);
  EXPECT_EQ(platform.redisplayAreas.size(), ticks);
}

TEST_F(MascotTest, RestartMovesTheCompletionAndOnlyTheLatestCounts) {
  send(R"({"command":"startFeedback"})");
  platform.advance(2);
  send(R"({"command":"startFeedback"})");
  EXPECT_EQ(view().startTime(), platform.now());
  platform.advance(1.5);  // 3.5 s: the first completion is stale
  EXPECT_TRUE(platform.takeLines().empty());
  EXPECT_TRUE(view().isStarting());
  EXPECT_EQ(platform.timersRunning(), 1) << "the timer is replaced, not added";
  platform.advance(1.5);  // 5 s
  EXPECT_EQ(platform.takeLines(), Lines{kComplete});
  platform.advance(10);
  EXPECT_TRUE(platform.takeLines().empty());
}

TEST_F(MascotTest, StopHideAndStaleCompletionsNeverReport) {
  send(R"({"command":"show"})");
  send(R"({"command":"startFeedback"})");
  platform.advance(1);
  send(R"({"command":"stopFeedback"})");
  EXPECT_EQ(platform.frame, (Rect{160, 800, 56, 56}));
  EXPECT_EQ(platform.timersRunning(), 0);
  platform.advance(5);
  EXPECT_TRUE(platform.takeLines().empty());

  send(R"({"command":"startFeedback"})");
  send(R"({"command":"hide"})");
  EXPECT_FALSE(platform.visible);
  EXPECT_EQ(platform.frame, (Rect{160, 800, 56, 56})) << "shrunk before it left";
  platform.advance(5);
  EXPECT_TRUE(platform.takeLines().empty());

  // Start, stop, start again within the first period: only the last start completes.
  send(R"({"command":"startFeedback"})");
  send(R"({"command":"stopFeedback"})");
  platform.advance(0.5);
  send(R"({"command":"startFeedback"})");
  platform.advance(2.6);
  EXPECT_TRUE(platform.takeLines().empty());
  platform.advance(0.4);
  EXPECT_EQ(platform.takeLines(), Lines{kComplete});
}

TEST_F(MascotTest, StopWhileIdleReappliesTheIdleFrameAndCountsAGeneration) {
  send(R"({"command":"show"})");
  const auto frames = platform.appliedFrames.size();
  const auto generation = view().feedbackGeneration();
  const int redisplays = platform.redisplayCount;
  send(R"({"command":"stopFeedback"})");
  EXPECT_EQ(platform.appliedFrames.size(), frames + 1);
  EXPECT_EQ(platform.frame, (Rect{160, 800, 56, 56}));
  EXPECT_EQ(view().feedbackGeneration(), generation + 1);
  EXPECT_GT(platform.redisplayCount, redisplays);
  EXPECT_TRUE(platform.takeLines().empty());
}

TEST_F(MascotTest, FeedbackWhileHiddenRunsUnseenAndStillCompletes) {
  send(R"({"command":"startFeedback"})");
  EXPECT_FALSE(platform.visible);
  EXPECT_EQ(platform.orderFrontCount, 0);
  EXPECT_EQ(platform.frame, (Rect{0, 900 - 144, 220, 144}));
  platform.advance(3);
  EXPECT_EQ(platform.takeLines(), Lines{kComplete});
  EXPECT_FALSE(platform.visible);
}

TEST_F(MascotTest, HideKeepsThePlaceForTheNextShowAndFeedback) {
  send(R"({"command":"show","x":100,"y":50})");
  send(R"({"command":"hide"})");
  send(R"({"command":"startFeedback"})");
  EXPECT_EQ(platform.frame, (Rect{100, 706, 220, 144}));
  send(R"({"command":"stopFeedback"})");
  send(R"({"command":"show","x":100,"y":50})");
  EXPECT_EQ(platform.frame, (Rect{260, 750, 56, 56}));
  EXPECT_TRUE(platform.visible);
}

TEST(MascotLifetimeTest, WorkOutlivingTheViewDoesNothing) {
  FakeMascotPlatform platform;
  {
    FloatingMascotController controller(platform, std::nullopt);
    controller.mascotView().startFeedback();
  }
  EXPECT_EQ(platform.pendingWork(), 1);
  platform.advance(5);
  EXPECT_TRUE(platform.lines.empty());
}

TEST(MascotLifetimeTest, WithoutAControllerTheFeedbackRunsButNothingMoves) {
  FakeMascotPlatform platform;
  DrawingOnlyOwner owner;
  FloatingMascotView view(platform, owner, "/no/such/avatar.png");
  view.startFeedback();
  EXPECT_TRUE(view.isStarting());
  EXPECT_TRUE(platform.appliedFrames.empty());
  platform.advance(3);
  EXPECT_FALSE(view.isStarting());
  EXPECT_EQ(platform.lines, std::vector<std::string>{R"({"event":"startFeedbackComplete"})"});
  EXPECT_EQ(view.avatarPath(), "/no/such/avatar.png");
}

}  // namespace
}  // namespace perch
