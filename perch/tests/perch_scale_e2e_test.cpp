// The real mascot on a scaled desktop: Xvfb with Xft.dpi set by xrdb, as a desktop's settings
// manager or a user's ~/.Xresources sets it. The host's numbers are points; the window's size,
// place and pixels, the hit area, a drag's "snap" and the drag threshold follow the scale, and
// follow it when it changes while perch runs.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "fake_mascot_platform.h"
#include "floating_mascot_view.h"
#include "frame_composer.h"
#include "x_window_probe.h"
#include "xtest_pointer.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::WindowGeometry;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

const std::string kReady = R"({"event":"status","message":"ready"})";

// Points to whole pixels, for the numbers here that land on them.
int px(double points, double scale) { return static_cast<int>(points * scale); }

auto at(int x, int y, int w, int h) {
  return [=](const WindowGeometry& g) {
    return g.viewable && g.x == x && g.y == y && g.width == unsigned(w) && g.height == unsigned(h);
  };
}
// The panel at (x, y, w, h) in points, top-left coordinates.
auto atPoints(double x, double y, double w, double h, double scale) {
  return at(px(x, scale), px(y, scale), px(w, scale), px(h, scale));
}

// Sets Xft.dpi in the server's resource database, as xrdb does for a desktop.
void setDpi(const std::string& display, int dpi) {
  ChildProcess xrdb({"/usr/bin/xrdb", "-nocpp", "-merge"}, {"DISPLAY=" + display});
  xrdb.write("Xft.dpi: " + std::to_string(dpi) + "\n");
  xrdb.closeStdin();
  ASSERT_TRUE(e2e::exitedCleanly(xrdb.waitExit()));
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

struct Scale {
  int dpi;
  double scale;
};
void PrintTo(const Scale& s, std::ostream* out) { *out << s.dpi << " dpi"; }

// A settings manager of our own: owns the screen's XSETTINGS selection and publishes Xft/DPI.
class SettingsManager {
 public:
  explicit SettingsManager(Display* d) : d_(d) {
    window_ = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    publishDpi(96);
    XSetSelectionOwner(d, XInternAtom(d, "_XSETTINGS_S0", False), window_, CurrentTime);
    XSync(d, False);
  }
  ~SettingsManager() {
    XDestroyWindow(d_, window_);
    XSync(d_, False);
  }
  // One integer setting, little-endian: byte order, serial, count, then type, name and value.
  void publishDpi(int dpi) {
    const std::string name = "Xft/DPI";
    std::vector<unsigned char> b = {
        0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, static_cast<unsigned char>(name.size()), 0};
    b.insert(b.end(), name.begin(), name.end());
    b.resize(b.size() + 1 + 4);  // padded to four, then the last-change serial
    const std::uint32_t value = dpi * 1024;
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(value >> (8 * i)));
    const Atom settings = XInternAtom(d_, "_XSETTINGS_SETTINGS", False);
    XChangeProperty(d_, window_, settings, settings, 8, PropModeReplace, b.data(), int(b.size()));
    XSync(d_, False);
  }

 private:
  Display* d_;
  Window window_;
};

class PerchScaleTest : public ::testing::TestWithParam<Scale> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.running());
    setDpi(server.display(), GetParam().dpi);
    // A stand-in xdg-open that records what it opens.
    stub = fs::temp_directory_path() / ("perch-scale-stub-" + std::to_string(getpid()));
    fs::create_directories(stub);
    record = stub / "opened";
    std::ofstream script(stub / "xdg-open");
    script << "#!/bin/sh\necho \"$1\" >> '" << record.string() << "'\n";
    script.close();
    fs::permissions(stub / "xdg-open", fs::perms::owner_all);
    probe = std::make_unique<e2e::XWindowProbe>(server.display());
    pointer = std::make_unique<e2e::XTestPointer>(server.display());
    pointer->moveTo(5, 5);
    perch = std::make_unique<ChildProcess>(
        std::vector<std::string>{PERCH_BINARY},
        std::vector<std::string>{"DISPLAY=" + server.display(),
                                 "PATH=" + stub.string() + ":" + std::getenv("PATH")});
    ASSERT_EQ(perch->readLine(), kReady);
    perch->write(R"({"command":"show","x":100,"y":50})"
                 "\n");
  }
  void TearDown() override {
    perch->closeStdin();
    std::string extra;
    EXPECT_TRUE(perch->readsEndOfOutput(5s, &extra)) << "unexpected output: " << extra;
    EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit()));
    EXPECT_EQ(perch->errorOutput(), "");
    fs::remove_all(stub);
  }

  e2e::XvfbServer server{"2880x1800x24"};
  fs::path stub, record;
  std::unique_ptr<e2e::XWindowProbe> probe;
  std::unique_ptr<e2e::XTestPointer> pointer;
  std::unique_ptr<ChildProcess> perch;
};

// The window holds the idle picture composed at the scale: every layer at device resolution.
TEST_P(PerchScaleTest, ShowAndTheExpandedLayoutArePlacedAndDrawnInPointsOfTheScale) {
  const double s = GetParam().scale;
  ASSERT_TRUE(probe->waitFor("perch", atPoints(260, 94, 56, 56, s)));
  const auto window = probe->findWindow("perch");
  ASSERT_TRUE(window);
  const int side = px(56, s);
  perch::FakeMascotPlatform platform;
  perch::FloatingMascotView view(platform, std::nullopt);
  view.setFrame({0, 0, 56, 56});
  std::vector<std::uint32_t> expected(side * side);
  perch::FrameComposer composer;
  ASSERT_TRUE(composer.compose(
      {reinterpret_cast<std::uint8_t*>(expected.data()), side * 4, side, side},
      {0, 0, double(side), true, s}, std::nullopt, [&](perch::Canvas& c) { view.draw(c); }));
  std::vector<std::uint32_t> shown(side * side);
  for (int attempt = 0; attempt < 500 && shown != expected; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(10ms);
    XImage* image = XGetImage(probe->display(), *window, 0, 0, side, side, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    for (int y = 0; y < side; ++y) {
      for (int x = 0; x < side; ++x) shown[y * side + x] = XGetPixel(image, x, y);
    }
    XDestroyImage(image);
  }
  EXPECT_TRUE(shown == expected) << "the window's pixels are the picture drawn at the scale";

  perch->write(R"({"command":"startFeedback"})"
               "\n");
  EXPECT_TRUE(probe->waitFor("perch", atPoints(100, 50, 220, 144, s)));
  perch->write(R"({"command":"show","x":300,"y":200,"width":250,"height":160})"
               "\n");
  EXPECT_TRUE(probe->waitFor("perch", atPoints(300, 200, 250, 160, s)));
  perch->write(R"({"command":"stopFeedback"})"
               "\n");
  EXPECT_TRUE(probe->waitFor("perch", atPoints(300 + 250 - 60, 200 + 160 - 100, 56, 56, s)));
}

// A press on the button 15 points right of and below its centre (where an unscaled one ends),
// moved 4 points (more than 5 pixels) is a click; a drag reports its place in points.
TEST_P(PerchScaleTest, ClicksAndDragsAreMeasuredInPoints) {
  const double s = GetParam().scale;
  ASSERT_TRUE(probe->waitFor("perch", atPoints(260, 94, 56, 56, s)));
  pointer->moveTo(px(288 + 15, s), px(122 + 15, s));
  pointer->press();
  pointer->glideTo(px(288 + 11, s), px(122 + 15, s), 2);
  pointer->release();
  for (int i = 0; i < 500 && readFile(record).empty(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(readFile(record), "halcy://voice-capture/silent?source=mascot\n");

  pointer->moveTo(px(288, s), px(122, s));  // the button's centre
  pointer->press();
  pointer->glideTo(px(388, s), px(172, s), 10);
  EXPECT_TRUE(probe->waitFor("perch", atPoints(360, 144, 56, 56, s)));
  pointer->release();
  const auto line = perch->readLine();
  ASSERT_TRUE(line);
  EXPECT_EQ(nlohmann::json::parse(*line),
            nlohmann::json::parse(R"({"event":"snap","x":200,"y":100})"));
}

INSTANTIATE_TEST_SUITE_P(Dpi, PerchScaleTest, ::testing::Values(Scale{192, 2}, Scale{144, 1.5}),
                         [](const auto& info) { return std::to_string(info.param.dpi); });

TEST(PerchRescaleTest, ANewScaleTakesEffectWhilePerchRuns) {
  e2e::XvfbServer server("2880x1800x24");
  ASSERT_TRUE(server.running());
  setDpi(server.display(), 192);
  e2e::XWindowProbe probe(server.display());
  ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display()});
  ASSERT_EQ(perch.readLine(), kReady);
  perch.write(R"({"command":"show","x":100,"y":50})"
              "\n");
  ASSERT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 2)));
  // The panel keeps its place in points: the host's numbers keep their meaning.
  setDpi(server.display(), 144);
  EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 1.5)));
  perch.write(R"({"command":"startFeedback"})"
              "\n");
  EXPECT_TRUE(probe.waitFor("perch", atPoints(100, 50, 220, 144, 1.5)));
  setDpi(server.display(), 96);
  EXPECT_TRUE(probe.waitFor("perch", at(100, 50, 220, 144)));
  perch.write(R"({"command":"stopFeedback"})"
              "\n"
              R"({"command":"show","x":100,"y":50})"
              "\n");
  EXPECT_TRUE(probe.waitFor("perch", at(260, 94, 56, 56)));
  {
    // A settings manager's Xft/DPI goes before the resource database's, and follows its changes;
    // when the manager goes, the database's holds again.
    SettingsManager manager(probe.display());
    manager.publishDpi(192);
    EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 2)));
    manager.publishDpi(144);
    EXPECT_TRUE(probe.waitFor("perch", atPoints(260, 94, 56, 56, 1.5)));
  }
  EXPECT_TRUE(probe.waitFor("perch", at(260, 94, 56, 56)));
  perch.closeStdin();
  EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
  EXPECT_EQ(perch.errorOutput(), "");
}

}  // namespace
