// The real perch binary under a private Xvfb: commands written to its standard input, events read
// from its standard output, and the window's real geometry and pixels read from the X server.
#include <gtest/gtest.h>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>

#include <algorithm>
#include <future>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "child_process.h"
#include "perch_lines.h"
#include "process_stats.h"
#include "x_window_probe.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::WindowGeometry;
using namespace std::chrono_literals;

std::unique_ptr<ChildProcess> startPerch(const std::string& display) {
  return std::make_unique<ChildProcess>(std::vector<std::string>{PERCH_BINARY},
                                        std::vector<std::string>{"DISPLAY=" + display});
}

auto at(int x, int y, unsigned w, unsigned h) {
  return [=](const WindowGeometry& g) {
    return g.viewable && g.x == x && g.y == y && g.width == w && g.height == h;
  };
}

std::string describe(const std::optional<WindowGeometry>& g) {
  if (!g) return "no window";
  return std::to_string(g->width) + "x" + std::to_string(g->height) + "+" + std::to_string(g->x) +
         "+" + std::to_string(g->y) + (g->viewable ? " shown" : " hidden");
}

class PerchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = new e2e::XvfbServer("1280x800x24"); }
  static void TearDownTestSuite() { delete server; }

  void SetUp() override {
    ASSERT_TRUE(server->running()) << "Xvfb did not start";
    probe = std::make_unique<e2e::XWindowProbe>(server->display());
    perch = startPerch(server->display());
  }
  void TearDown() override {
    perch->closeStdin();
    EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit()));
    EXPECT_EQ(perch->errorOutput(), "");
  }
  void send(const std::string& lines) { ASSERT_TRUE(perch->write(lines)); }
  // Closes standard input: perch ends after what it was given, with no line beyond those read.
  void expectNoMoreOutputAfterInputEnds() {
    perch->closeStdin();
    std::string extra;
    EXPECT_TRUE(perch->readsEndOfOutput(5s, &extra)) << "unexpected: " << extra;
  }
  // The screen is 800 high and its top-left is the root's: top-left coordinates are root ones.
  void expectWindow(int x, int y, unsigned w, unsigned h) {
    EXPECT_TRUE(probe->waitFor("perch", at(x, y, w, h)))
        << "window is " << describe(probe->poll("perch")) << ", expected " << w << "x" << h << "+"
        << x << "+" << y;
  }

  static e2e::XvfbServer* server;
  std::unique_ptr<e2e::XWindowProbe> probe;
  std::unique_ptr<ChildProcess> perch;
};

e2e::XvfbServer* PerchTest::server = nullptr;

TEST_F(PerchTest, ReadyComesFirstThoughCommandsWereWrittenBefore) {
  send(R"({"command":"show","x":100,"y":50})"
       "\n");
  EXPECT_EQ(perch->readLine(), kReady);
  expectWindow(260, 94, 56, 56);
  auto g = probe->waitFor("perch", at(260, 94, 56, 56));
  ASSERT_TRUE(g);
  EXPECT_TRUE(g->overrideRedirect) << "never managed, never focused";
}

TEST_F(PerchTest, HiddenUntilTheFirstShowAndAfterHide) {
  ASSERT_EQ(perch->readLine(), kReady);
  auto g = probe->waitFor("perch", [](const WindowGeometry&) { return true; });
  ASSERT_TRUE(g) << "the window exists from launch";
  EXPECT_FALSE(g->viewable);
  send(R"({"command":"show"})"
       "\n");
  expectWindow(160, 44, 56, 56);
  send(R"({"command":"hide"})"
       "\n");
  EXPECT_TRUE(probe->waitFor("perch", [](const WindowGeometry& w) { return !w.viewable; }));
}

TEST_F(PerchTest, FeedbackExpandsThenCompletesOnceAndShrinks) {
  ASSERT_EQ(perch->readLine(), kReady);
  send(R"({"command":"show","x":100,"y":50})"
       "\n"
       R"({"command":"startFeedback"})"
       "\n");
  expectWindow(100, 50, 220, 144);
  // The button's white disc, 14 points left of the expanded button's centre (the monogram is
  // at the centre itself).
  auto white = [](const e2e::Pixel& p) { return p.red == 255 && p.green == 255 && p.blue == 255; };
  EXPECT_TRUE(white(probe->waitForPixel(100 + 174, 50 + 144 - 72, white)));
  EXPECT_EQ(perch->readLine(6s), kComplete);
  expectWindow(260, 94, 56, 56);
  expectNoMoreOutputAfterInputEnds();
}

// Ordinary windows mapped over the mascot: it comes back above them. Another program's
// override-redirect windows (a menu, a full-screen locker) stay above it, even through a "show".
TEST_F(PerchTest, StaysAboveOrdinaryWindowsAndBelowOtherProgramsOverrideRedirectOnes) {
  ASSERT_EQ(perch->readLine(), kReady);
  Display* d = probe->display();
  struct Case {
    const char* name;
    bool overrideRedirect;
    int x, y;
    unsigned width, height;
    bool mascotOnTop;
  };
  const Case cases[] = {
      {"ordinary window", false, 200, 50, 200, 200, true},
      {"menu", true, 200, 50, 200, 200, false},
      {"locker", true, 0, 0, 1280, 800, false},
  };
  auto mascotAbove = [&](Window other, Window mascot) {
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
    int otherAt = -1, mascotAt = -1;
    for (unsigned i = 0; i < count; ++i) {
      if (children[i] == other) otherAt = int(i);
      if (children[i] == mascot) mascotAt = int(i);
    }
    XFree(children);
    return mascotAt > otherAt;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    send(R"({"command":"show","x":100,"y":50})"
         "\n");
    expectWindow(260, 94, 56, 56);
    const auto mascot = probe->findWindow("perch");
    ASSERT_TRUE(mascot);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = c.overrideRedirect;
    Window cover =
        XCreateWindow(d, DefaultRootWindow(d), c.x, c.y, c.width, c.height, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
    XMapRaised(d, cover);
    XSync(d, False);
    // Asked to show itself again, hidden and shown: its place in the stack stays the same. The
    // last show moves it, so that all three are seen to have been carried out.
    send(R"({"command":"show","x":100,"y":50})"
         "\n"
         R"({"command":"hide"})"
         "\n"
         R"({"command":"show","x":110,"y":50})"
         "\n");
    expectWindow(270, 94, 56, 56);
    // Then an ordinary window put right over the mascot, which it must come back above: its
    // raises are made in turn, so that one comes after any the cover and the commands caused.
    Window marker = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 700, 10, 10, 0, 0, 0);
    XWindowChanges changes{};
    changes.sibling = *mascot;
    changes.stack_mode = Above;
    XConfigureWindow(d, marker, CWSibling | CWStackMode, &changes);
    XMapWindow(d, marker);
    XSync(d, False);
    for (int i = 0; i < 500 && !mascotAbove(marker, *mascot); ++i) {
      std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(mascotAbove(marker, *mascot)) << "never raised over an ordinary window";
    EXPECT_EQ(mascotAbove(cover, *mascot), c.mascotOnTop);
    XDestroyWindow(d, marker);
    XDestroyWindow(d, cover);
    XSync(d, False);
  }
}

// Numbers far beyond what X or memory can hold: the window shows only the part of the panel on the
// screen (X's positions and sizes are 16-bit), a panel far off the screen stays off it, and perch
// goes on answering without drawing the whole panel.
TEST_F(PerchTest, HugeSizesShowTheirPartOnTheScreenAndFarPositionsStayOffIt) {
  ASSERT_EQ(perch->readLine(), kReady);
  struct Case {
    std::string show;
    bool feedback;
    std::optional<WindowGeometry> expected;  // none: anywhere off the screen, or hidden
  };
  const Case cases[] = {
      {R"("x":10,"y":10,"width":40000)", true, WindowGeometry{10, 10, 1270, 144, true}},
      {R"("x":10,"y":10,"width":30000,"height":30000)", true,
       WindowGeometry{10, 10, 1270, 790, true}},
      {R"("x":-5,"y":0,"width":5e9,"height":1e9)", true, WindowGeometry{0, 0, 1280, 800, true}},
      {R"("x":65636,"y":100)", false, std::nullopt},
      {R"("x":1e308,"y":100)", false, std::nullopt},
      {R"("x":-1e308,"y":100)", false, std::nullopt},
      {R"("x":100,"y":65636)", false, std::nullopt},
      {R"("x":100,"y":1e308)", true, std::nullopt},
  };
  auto overScreen = [](const WindowGeometry& g) {
    return g.x < 1280 && g.x + int(g.width) > 0 && g.y < 800 && g.y + int(g.height) > 0;
  };
  auto onScreen = [&](const WindowGeometry& g) { return g.viewable && overScreen(g); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.show);
    // From a known place, so that the far show is seen to have been carried out.
    send(R"({"command":"stopFeedback"})"
         "\n"
         R"({"command":"show","x":300,"y":300})"
         "\n");
    expectWindow(460, 344, 56, 56);
    send(std::string(c.feedback ? "{\"command\":\"startFeedback\"}\n" : "") +
         R"({"command":"show",)" + c.show + "}\n");
    auto g =
        probe->waitFor("perch", [](const WindowGeometry& w) { return !at(460, 344, 56, 56)(w); });
    ASSERT_TRUE(g) << "perch died or never moved";
    if (c.expected) {
      expectWindow(c.expected->x, c.expected->y, c.expected->width, c.expected->height);
    } else {
      g = probe->waitFor("perch", [&](const WindowGeometry& w) { return !onScreen(w); });
      ASSERT_TRUE(g) << "still on the screen: " << describe(probe->poll("perch"));
      if (g->viewable) {
        // Commands are carried out in order: once the hide is seen, nothing the far show did is
        // still on its way, and a hidden window keeps its last place.
        send(R"({"command":"hide"})"
             "\n");
        g = probe->waitFor("perch", [](const WindowGeometry& w) { return !w.viewable; });
        ASSERT_TRUE(g) << "never hidden";
        EXPECT_FALSE(overScreen(*g)) << describe(g);
      }
    }
  }
  // The picture held is at most the screen's: 1280 x 800 x 4 bytes, never 30000 x 30000 x 4.
  const std::string rss = e2e::peakRss(perch->pid());
  EXPECT_LT(std::stol(rss), 256 * 1024) << "peak RSS " << rss;
}

TEST_F(PerchTest, HideDuringFeedbackNeverCompletes) {
  ASSERT_EQ(perch->readLine(), kReady);
  send(R"({"command":"show","x":100,"y":50})"
       "\n"
       R"({"command":"startFeedback"})"
       "\n");
  expectWindow(100, 50, 220, 144);
  send(R"({"command":"hide"})"
       "\n");
  EXPECT_TRUE(probe->waitFor("perch", [](const WindowGeometry& w) { return !w.viewable; }));
  // A later start completes exactly once; the hidden one's completion stays stale.
  send(R"({"command":"startFeedback"})"
       "\n");
  EXPECT_EQ(perch->readLine(6s), kComplete);
  expectNoMoreOutputAfterInputEnds();
}

TEST_F(PerchTest, GarbageChangesNothing) {
  ASSERT_EQ(perch->readLine(), kReady);
  send(R"({"command":"show","x":300,"y":300})"
       "\n");
  expectWindow(460, 344, 56, 56);
  send(
      "not json\n\n   \n{\"command\":\"show\",\"x\":\"9\"}\n{\"command\":\"Show\",\"x\":9}\n"
      "{\"command\":\"show\",\"x\":1e400}\n[1,2]\n\xff\xfe\n{\"x\":1}\n");
  send(R"({"command":"hide","x2":")"
       "\xff"
       R"("})"
       "\n");  // bad UTF-8 in an ignored key
  EXPECT_TRUE(probe->waitFor("perch", [](const WindowGeometry& w) { return !w.viewable; }));
  send(R"({"command":"show","x":300,"y":300})"
       "\n");
  expectWindow(460, 344, 56, 56);
  expectNoMoreOutputAfterInputEnds();
}

TEST_F(PerchTest, EndOfInputRunsEveryCommandBeforeIt) {
  ASSERT_EQ(perch->readLine(), kReady);
  // Watch for the window being mapped: the last line has no line feed and input ends right there.
  Display* d = probe->display();
  XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
  XSync(d, False);
  send(R"({"command":"hide"})"
       "\r\n"
       R"({"command":"show","x":10,"y":10})");
  perch->closeStdin();
  EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit()));
  bool mapped = false;
  while (XPending(d)) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type == MapNotify) mapped = true;
  }
  EXPECT_TRUE(mapped);
}

TEST_F(PerchTest, QuitEndsAtOnceAndNothingAfterItRuns) {
  ASSERT_EQ(perch->readLine(), kReady);
  send(R"({"command":"quit"})"
       "\n"
       R"({"command":"startFeedback"})"
       "\n");
  EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit(2s)));
  std::string extra;
  EXPECT_TRUE(perch->readsEndOfOutput(1s, &extra)) << "unexpected: " << extra;
}

TEST_F(PerchTest, AFloodOfCommandsIsCarriedOutInOrder) {
  ASSERT_EQ(perch->readLine(), kReady);
  // Every show of the flood puts the window somewhere new, and the X server reports each move: a
  // command lost, doubled or carried out of turn shows in the sequence of places.
  Display* d = probe->display();
  const auto window = probe->findWindow("perch");
  ASSERT_TRUE(window);
  XSelectInput(d, *window, StructureNotifyMask);
  XSync(d, False);
  constexpr int kShows = 100000;
  std::string flood;
  std::vector<std::pair<int, int>> expected;
  for (int i = 0; i < kShows; ++i) {
    flood += R"({"command":"show","x":)" + std::to_string(i % 1000) + R"(,"y":)" +
             std::to_string(i % 500) + "}\n";
    expected.emplace_back(i % 1000 + 160, i % 500 + 44);
  }
  flood += R"({"command":"startFeedback"})"
           "\n";
  auto writer = std::async(std::launch::async, [&] { return perch->write(flood); });
  std::vector<std::pair<int, int>> seen;
  const auto deadline = std::chrono::steady_clock::now() + 120s;  // seconds; more under ASan
  while (seen.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
    if (XPending(d) == 0) {
      pollfd connection{ConnectionNumber(d), POLLIN, 0};
      poll(&connection, 1, 100);
      continue;
    }
    XEvent e;
    XNextEvent(d, &e);
    if (e.type != ConfigureNotify || e.xconfigure.window != *window) continue;
    const std::pair place{e.xconfigure.x, e.xconfigure.y};
    if (seen.empty() || seen.back() != place) seen.push_back(place);  // a raise repeats the place
  }
  ASSERT_TRUE(writer.get());
  const auto firstDifference = std::mismatch(seen.begin(), seen.end(), expected.begin()).first;
  EXPECT_EQ(seen.size(), expected.size());
  EXPECT_EQ(firstDifference, seen.end())
      << "show " << (firstDifference - seen.begin()) << " of " << kShows << " went wrong";
  // The last show wins (99999 % 1000, 99999 % 500), then the feedback runs once; nothing follows.
  EXPECT_EQ(perch->readLine(30s), kComplete);
  expectWindow(999 + 160, 499 + 44, 56, 56);
  expectNoMoreOutputAfterInputEnds();
}

TEST_F(PerchTest, ClosedStdoutEndsTheRunWithStatusZero) {
  ASSERT_EQ(perch->readLine(), kReady);
  perch->closeStdout();
  auto status = perch->waitExit();
  ASSERT_TRUE(status) << "perch kept running with nobody reading";
  EXPECT_TRUE(e2e::exitedCleanly(status));
}

TEST(PerchMonitorsTest, TheScreenIsPickedByXAndYIsMeasuredFromItsTop) {
  e2e::XvfbServer server("2560x800x24");
  ASSERT_TRUE(server.running());
  auto perch = startPerch(server.display());
  ASSERT_EQ(perch->readLine(), kReady);
  e2e::XWindowProbe probe(server.display());
  perch->write(R"({"command":"startFeedback"})"
               "\n"
               R"({"command":"show","x":1500,"y":50})"
               "\n");
  EXPECT_TRUE(probe.waitFor("perch", at(1500, 50, 220, 144)));  // one wide screen so far

  // The layout changes under the running mascot: two monitors side by side, the left 1280 x 800
  // (listed first, so primary here), the right 1280 x 600 whose top edge is 200 pixels lower.
  const std::string env = "DISPLAY=" + server.display();
  for (const char* args : {"--setmonitor left 1280/300x800/200+0+0 screen",
                           "--setmonitor right 1280/300x600/150+1280+200 none"}) {
    ChildProcess xrandr({"/bin/sh", "-c", std::string("exec xrandr ") + args}, {env});
    ASSERT_TRUE(e2e::exitedCleanly(xrandr.waitExit()));
  }
  // perch hears of the change on its X connection, the command on its standard input: ask again
  // until the new layout has been read. Each ask starts the feedback afresh, so that it stays
  // expanded however slow the machine.
  std::optional<WindowGeometry> g;
  for (int i = 0; i < 50 && !g; ++i) {
    perch->write(R"({"command":"startFeedback"})"
                 "\n"
                 R"({"command":"show","x":1500,"y":50})"
                 "\n");
    g = probe.waitFor("perch", at(1500, 250, 220, 144), 100);
  }
  EXPECT_TRUE(g) << describe(probe.poll("perch")) << ": y is measured from the right's top";
  perch->write(R"({"command":"startFeedback"})"
               "\n"
               R"({"command":"show","x":1280,"y":50})"
               "\n");  // x = 1280: still the left one
  EXPECT_TRUE(probe.waitFor("perch", at(1280, 50, 220, 144)));
  perch->closeStdin();
  EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit()));
}

TEST(PerchServerLossTest, ExitsWithStatusZeroWhenTheServerDies) {
  e2e::XvfbServer server;
  ASSERT_TRUE(server.running());
  auto perch = startPerch(server.display());
  ASSERT_EQ(perch->readLine(), kReady);
  perch->write(R"({"command":"show"})"
               "\n"
               R"({"command":"startFeedback"})"
               "\n");
  server.kill();
  EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit(2s)));
  EXPECT_EQ(perch->errorOutput(), "");
}

}  // namespace
