// The real mascot on a scaled desktop: a 2880 x 1800 Xvfb with Xft.dpi set by xrdb, or by a
// settings manager's XSETTINGS. The host's numbers are points: the window's place, size and
// pixels, the hit area, the drag threshold and "snap" follow the scale, also when it changes.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "fake_mascot_platform.h"
#include "floating_mascot_view.h"
#include "frame_composer.h"
#include "perch_lines.h"
#include "x_window_probe.h"
#include "xtest_pointer.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The panel at (x, y, w, h) in points, top-left coordinates, on whole pixels at `s`.
auto atPoints(double x, double y, double w, double h, double s) {
  return [=](const e2e::WindowGeometry& g) {
    return g.viewable && g.x == int(x * s) && g.y == int(y * s) && g.width == unsigned(w * s) &&
           g.height == unsigned(h * s);
  };
}

void setDpi(const std::string& display, int dpi) {
  ChildProcess xrdb({"/usr/bin/xrdb", "-nocpp", "-merge"}, {"DISPLAY=" + display});
  xrdb.write("Xft.dpi: " + std::to_string(dpi) + "\n");
  xrdb.closeStdin();
  ASSERT_TRUE(e2e::exitedCleanly(xrdb.waitExit()));
}

// What the window shows, as 32-bit pixels.
std::vector<std::uint32_t> windowPixels(Display* d, unsigned long window, int w, int h) {
  std::vector<std::uint32_t> pixels(w * h);
  if (XImage* image = XGetImage(d, window, 0, 0, w, h, AllPlanes, ZPixmap)) {
    for (int i = 0; i < w * h; ++i) pixels[i] = XGetPixel(image, i % w, i / w);
    XDestroyImage(image);
  }
  return pixels;
}

class PerchScaleTest : public ::testing::TestWithParam<std::pair<int, double>> {};

TEST_P(PerchScaleTest, PlacesDrawsClicksAndDragsInPoints) {
  const auto [dpi, s] = GetParam();
  e2e::XvfbServer server("2880x1800x24");
  ASSERT_TRUE(server.running());
  setDpi(server.display(), dpi);
  // A stand-in xdg-open that records what it opens.
  const fs::path stub = fs::temp_directory_path() / ("perch-scale-" + std::to_string(getpid()));
  fs::create_directories(stub);
  std::ofstream(stub / "xdg-open")
      << "#!/bin/sh\necho \"$1\" >> '" << (stub / "opened").string() << "'\n";
  fs::permissions(stub / "xdg-open", fs::perms::owner_all);
  e2e::XWindowProbe probe(server.display());
  e2e::XTestPointer pointer(server.display());
  ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display(),
                                      "PATH=" + stub.string() + ":" + std::getenv("PATH")});
  ASSERT_EQ(perch.readLine(), kReady);
  perch.write("{\"command\":\"show\",\"x\":100,\"y\":50}\n");
  ASSERT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, s)));

  // Its pixels are the idle picture composed at the scale.
  const int side = int(56 * s);
  perch::FakeMascotPlatform platform;
  perch::DrawingOnlyOwner owner;
  perch::FloatingMascotView view(platform, owner, std::nullopt);
  view.setFrame({0, 0, 56, 56});
  std::vector<std::uint32_t> expected(side * side);
  perch::FrameComposer composer;
  ASSERT_TRUE(composer.compose(
      {reinterpret_cast<std::uint8_t*>(expected.data()), side * 4, side, side},
      {0, 0, double(side), true, s}, std::nullopt, [&](perch::Canvas& c) { view.draw(c); }));
  const auto window = probe.findWindow("perch");
  ASSERT_TRUE(window);
  for (int i = 0; i < 500 && windowPixels(probe.display(), *window, side, side) != expected; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(windowPixels(probe.display(), *window, side, side) == expected);

  // Pressed 15 points right of and below the button's centre and moved 4 points (over 5 pixels):
  // a click.
  pointer.moveTo(int(303 * s), int(137 * s));
  pointer.press();
  pointer.glideTo(int(299 * s), int(137 * s), 2);
  pointer.release();
  std::string opened;
  for (int i = 0; i < 500 && opened.empty(); ++i) {
    std::this_thread::sleep_for(10ms);
    std::ifstream in(stub / "opened");
    std::getline(in, opened);
  }
  EXPECT_EQ(opened, "halcy://voice-capture/silent?source=mascot");
  fs::remove_all(stub);

  // A drag of (100, 50) points from the button's centre.
  pointer.moveTo(int(288 * s), int(122 * s));
  pointer.press();
  pointer.glideTo(int(388 * s), int(172 * s), 10);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(360, 144, 56, 56, s)));
  pointer.release();
  const auto line = perch.readLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(nlohmann::json::parse(*line),
            nlohmann::json::parse(R"({"event":"snap","x":200,"y":100})"));

  perch.write("{\"command\":\"startFeedback\"}\n");
  EXPECT_TRUE(probe.waitFor("perch", atPoints(200, 100, 220, 144, s)));
  perch.write("{\"command\":\"show\",\"x\":300,\"y\":200,\"width\":250,\"height\":160}\n");
  EXPECT_TRUE(probe.waitFor("perch", atPoints(300, 200, 250, 160, s)));
  perch.write("{\"command\":\"stopFeedback\"}\n");
  EXPECT_TRUE(probe.waitFor("perch", atPoints(490, 260, 56, 56, s)));
  perch.closeStdin();
  EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
  EXPECT_EQ(perch.errorOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(Dpi, PerchScaleTest,
                         ::testing::Values(std::pair{192, 2.0}, std::pair{144, 1.5}),
                         [](const auto& info) { return std::to_string(info.param.first); });

// One integer setting, Xft/DPI, as a settings manager publishes it (little-endian XSETTINGS).
void publishDpi(Display* d, Window owner, int dpi) {
  std::vector<unsigned char> b = {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 7, 0};
  for (char c : std::string("Xft/DPI\0", 8)) b.push_back(c);  // the name padded to four
  b.resize(b.size() + 4);                                     // last change
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>((dpi * 1024) >> (8 * i)));
  const Atom settings = XInternAtom(d, "_XSETTINGS_SETTINGS", False);
  XChangeProperty(d, owner, settings, settings, 8, PropModeReplace, b.data(), int(b.size()));
  XSync(d, False);
}

TEST(PerchRescaleTest, ANewScaleTakesEffectWhilePerchRuns) {
  e2e::XvfbServer server("2880x1800x24");
  ASSERT_TRUE(server.running());
  setDpi(server.display(), 192);
  e2e::XWindowProbe probe(server.display());
  ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display()});
  ASSERT_EQ(perch.readLine(), kReady);
  perch.write("{\"command\":\"show\",\"x\":100,\"y\":50}\n");
  ASSERT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 2)));
  // Placed again from the host's numbers, in the new points.
  setDpi(server.display(), 144);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 1.5)));
  perch.write("{\"command\":\"startFeedback\"}\n");
  EXPECT_TRUE(probe.waitFor("perch", atPoints(100, 50, 220, 144, 1.5)));
  setDpi(server.display(), 96);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(100, 50, 220, 144, 1)));
  perch.write("{\"command\":\"stopFeedback\"}\n");
  EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 1)));
  // A settings manager's Xft/DPI goes before xrdb's and is followed; when it goes, xrdb's holds.
  Display* d = probe.display();
  const Window manager = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
  publishDpi(d, manager, 96);
  XSetSelectionOwner(d, XInternAtom(d, "_XSETTINGS_S0", False), manager, CurrentTime);
  publishDpi(d, manager, 192);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 2)));
  publishDpi(d, manager, 144);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 1.5)));
  XDestroyWindow(d, manager);
  XSync(d, False);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 1)));
  perch.closeStdin();
  EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
  EXPECT_EQ(perch.errorOutput(), "");
}

}  // namespace
