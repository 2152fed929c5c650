// The real mascot's picture on a private Xvfb, with and without a compositor, probed at the same
// points: what is painted shows, what is not lets the desktop show through.
#include <gtest/gtest.h>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "child_process.h"
#include "x_window_probe.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::Pixel;
using e2e::WindowGeometry;
using namespace std::chrono_literals;

auto at(int x, int y, unsigned w, unsigned h) {
  return [=](const WindowGeometry& g) {
    return g.viewable && g.x == x && g.y == y && g.width == w && g.height == h;
  };
}

auto equals(Pixel want) {
  return [=](const Pixel& p) {
    return p.red == want.red && p.green == want.green && p.blue == want.blue;
  };
}

const Pixel kWhite{255, 255, 255};

// The expanded panel sits at (100, 50, 220, 144); its button's centre at (288, 122).
constexpr int kButtonX = 288, kButtonY = 122;

// A 16-bit server without the Composite extension has no visual whose pixels are the picture's
// words: its drawing library converts each frame for the window. An 8-bit server's window takes
// colours from a colormap: perch allocates them.
TEST(PerchPictureTest, AWindowOfAnotherVisualGetsThePictureConverted) {
  for (const char* screen : {"1280x800x16", "1280x800x8"}) {
    SCOPED_TRACE(screen);
    e2e::XvfbServer server(screen, {"-extension", "Composite"});
    ASSERT_TRUE(server.running());
    e2e::XWindowProbe probe(server.display());
    // White and the desktop's colour as this server's pixels read back.
    probe.setRootColor(0xffffff);
    const Pixel white = probe.rootPixel(5, 5);
    probe.setRootColor(0x4a5a78);
    const Pixel desktop = probe.rootPixel(5, 5);
    ASSERT_FALSE(equals(white)(desktop));

    ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display()});
    ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");
    perch.write(R"({"command":"show","x":100,"y":50})"
                "\n"
                R"({"command":"startFeedback"})"
                "\n");
    ASSERT_TRUE(probe.waitFor("perch", at(100, 50, 220, 144)));
    EXPECT_TRUE(equals(white)(probe.waitForPixel(kButtonX - 14, kButtonY, equals(white))));
    EXPECT_TRUE(equals(desktop)(probe.rootPixel(101, 51))) << "cut to the painted pixels";
    EXPECT_EQ(perch.readLine(10s), R"({"event":"startFeedbackComplete"})");
    perch.closeStdin();
    EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit(10s)));
    EXPECT_EQ(perch.errorOutput(), "");
  }
}

TEST(PerchPictureTest, ShapedWithoutACompositorTranslucentWithOne) {
  e2e::XvfbServer server("1280x800x24");
  ASSERT_TRUE(server.running());
  e2e::XWindowProbe probe(server.display());
  probe.setRootColor(0x4a5a78);
  const Pixel desktop{0x4a, 0x5a, 0x78};
  ASSERT_FALSE(probe.compositorRunning());

  ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display()});
  ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");
  perch.write(R"({"command":"show","x":100,"y":50})"
              "\n");
  ASSERT_TRUE(probe.waitFor("perch", at(260, 94, 56, 56)));
  // Idle: the white disc at the button, the desktop at the idle square's corner.
  EXPECT_TRUE(equals(kWhite)(probe.waitForPixel(kButtonX - 14, kButtonY, equals(kWhite))));
  EXPECT_TRUE(equals(desktop)(probe.rootPixel(261, 95)));

  perch.write(R"({"command":"startFeedback"})"
              "\n");
  ASSERT_TRUE(probe.waitFor("perch", at(100, 50, 220, 144)));
  EXPECT_TRUE(equals(kWhite)(probe.waitForPixel(kButtonX - 14, kButtonY, equals(kWhite))));
  // No compositor: the window is cut to what is painted, so its corners are the desktop's, not
  // black.
  for (auto [x, y] : {std::pair{101, 51}, {318, 51}, {101, 192}, {318, 192}}) {
    EXPECT_TRUE(equals(desktop)(probe.rootPixel(x, y))) << x << "," << y;
  }
  auto window = probe.findWindow("perch");
  ASSERT_TRUE(window);
  const auto shaped = probe.boundingShape(*window);
  EXPECT_GT(shaped.size(), 1u) << "cut to the painted pixels";

  // A compositor starts: the window follows live, whole and translucent.
  ChildProcess compositor({"/usr/bin/xcompmgr"}, {"DISPLAY=" + server.display()});
  ASSERT_TRUE(probe.waitForCompositor());
  const WindowGeometry whole{0, 0, 220, 144, true, false};
  std::vector<WindowGeometry> shape;
  for (int i = 0; i < 500 && shape != std::vector<WindowGeometry>{whole}; ++i) {
    std::this_thread::sleep_for(10ms);
    shape = probe.boundingShape(*window);
  }
  EXPECT_EQ(shape, std::vector<WindowGeometry>{whole}) << "no longer cut";
  // The compositor paints the desktop behind; the same points show it, and the glow beside the
  // button is violet over it: more blue than red, brighter than the desktop there.
  const Pixel background = probe.rootPixel(5, 5);
  EXPECT_TRUE(equals(kWhite)(probe.waitForPixel(kButtonX - 14, kButtonY, equals(kWhite))));
  for (auto [x, y] : {std::pair{101, 51}, {318, 51}, {101, 192}, {318, 192}}) {
    EXPECT_TRUE(equals(background)(probe.rootPixel(x, y))) << x << "," << y;
  }
  auto violet = [&](const Pixel& p) {
    return p.blue > p.red + 20 && p.blue > background.blue + 20;
  };
  const Pixel glow = probe.waitForPixel(kButtonX + 25, kButtonY, violet, 2000);
  EXPECT_TRUE(violet(glow)) << glow.red << "," << glow.green << "," << glow.blue;

  perch.closeStdin();
  EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
  compositor.kill(SIGTERM);
  compositor.waitExit();
}

// Compositors that draw shadows, as users run them: picom with the example configuration it ships
// (only vsync off, which Xvfb cannot give). The mascot casts no shadow: the desktop shows right up
// to the idle square, all around it, and in its unpainted corners.
TEST(PerchPictureTest, CastsNoShadowUnderCompositorsThatDrawThem) {
  const std::string config = (std::filesystem::temp_directory_path() /
                              ("perch-picom-" + std::to_string(getpid()) + ".conf"))
                                 .string();
  ChildProcess copy({"/bin/sh", "-c",
                     "sed 's/^vsync = true;/vsync = false;/' "
                     "/usr/share/doc/picom/examples/picom.sample.conf > '" +
                         config + "'"},
                    {});
  ASSERT_TRUE(e2e::exitedCleanly(copy.waitExit()));
  struct Case {
    const char* name;
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {"picom", {"/usr/bin/picom", "--config", config}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::XvfbServer server("1280x800x24");
    ASSERT_TRUE(server.running());
    e2e::XWindowProbe probe(server.display());
    // A light desktop, so that a shadow would show, set as a wallpaper setter would: picom paints
    // the pixmap named by _XROOTPMAP_ID (and a grey of its own without one).
    probe.setRootColor(0xd0d0d0);
    Display* d = probe.display();
    const Window root = DefaultRootWindow(d);
    Pixmap wallpaper = XCreatePixmap(d, root, 1, 1, DefaultDepth(d, DefaultScreen(d)));
    GC gc = XCreateGC(d, wallpaper, 0, nullptr);
    XSetForeground(d, gc, 0xd0d0d0);
    XFillRectangle(d, wallpaper, gc, 0, 0, 1, 1);
    XFreeGC(d, gc);
    XChangeProperty(d, root, XInternAtom(d, "_XROOTPMAP_ID", False), XA_PIXMAP, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&wallpaper), 1);
    XSync(d, False);
    ChildProcess compositor(c.command, {"DISPLAY=" + server.display()});
    ASSERT_TRUE(probe.waitForCompositor());
    ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display()});
    ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");
    perch.write(R"({"command":"show","x":100,"y":50})"
                "\n");
    ASSERT_TRUE(probe.waitFor("perch", at(260, 94, 56, 56)));
    EXPECT_TRUE(equals(kWhite)(probe.waitForPixel(kButtonX - 14, kButtonY, equals(kWhite))));
    const Pixel desktop = probe.rootPixel(5, 5);
    // Around the square (260..315 x 94..149) and in its corners, after any fade has ended.
    for (auto [x, y] : {std::pair{257, 122},
                        {253, 122},
                        {318, 122},
                        {322, 122},
                        {288, 91},
                        {288, 87},
                        {288, 152},
                        {288, 156},
                        {255, 89},
                        {320, 154},
                        {261, 95},
                        {314, 148}}) {
      const Pixel p = probe.waitForPixel(x, y, equals(desktop), 2000);
      EXPECT_TRUE(equals(desktop)(p))
          << x << "," << y << ": " << p.red << "," << p.green << "," << p.blue << " on "
          << desktop.red << "," << desktop.green << "," << desktop.blue;
    }
    perch.closeStdin();
    EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
    compositor.kill(SIGTERM);
    compositor.waitExit();
  }
  std::filesystem::remove(config);
}

// An 8 x 8 picture of one colour as a 24-bit BMP: headers, then rows of blue, green, red.
std::string solidBmp(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  constexpr int side = 8, pixelBytes = side * side * 3, headerBytes = 14 + 40;
  std::string bmp;
  auto put = [&](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) bmp.push_back(static_cast<char>(value >> (8 * i) & 0xff));
  };
  bmp += "BM";
  put(headerBytes + pixelBytes, 4), put(0, 4), put(headerBytes, 4);
  put(40, 4), put(side, 4), put(side, 4), put(1, 2), put(24, 2), put(0, 4), put(pixelBytes, 4);
  put(2835, 4), put(2835, 4), put(0, 4), put(0, 4);
  for (int i = 0; i < side * side; ++i) put(blue, 1), put(green, 1), put(red, 1);
  return bmp;
}

bool mapsGdkPixbuf(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  const std::string text(std::istreambuf_iterator<char>(maps), {});
  return text.find("libgdk_pixbuf") != std::string::npos;
}

// gdk-pixbuf is opened only to read an avatar: a run without one never maps it, and one with an
// avatar (through its loaders, built in or not) shows it in the button as before; a file that is
// not an image leaves the monogram.
TEST(PerchPictureTest, AvatarIsReadOnDemand) {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("perch-avatar-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/red.bmp", std::ios::binary) << solidBmp(230, 20, 30);
  std::ofstream(dir + "/green.svg")
      << "<svg xmlns='http://www.w3.org/2000/svg' width='48' height='48'>"
         "<rect width='48' height='48' fill='#20c040'/></svg>";
  std::ofstream(dir + "/notes.png") << "not a picture\n";
  auto red = [](const Pixel& p) { return p.red > 200 && p.green < 50 && p.blue < 60; };
  auto green = [](const Pixel& p) { return p.red < 60 && p.green > 170 && p.blue < 90; };
  // Each case shows a colour that the one before does not, at a point inside the button's disc:
  // the avatar's, or the white behind the monogram.
  const struct {
    const char* name;
    std::vector<std::string> args;
    bool mapped;
    std::function<bool(const Pixel&)> button;
  } cases[] = {
      {"no avatar", {}, false, equals(kWhite)},
      {"a BMP avatar", {"--avatar", dir + "/red.bmp"}, true, red},
      {"an SVG avatar", {"--avatar", dir + "/green.svg"}, true, green},
      {"not an image", {"--avatar", dir + "/notes.png"}, true, equals(kWhite)},
  };
  e2e::XvfbServer server("1280x800x24");
  ASSERT_TRUE(server.running());
  e2e::XWindowProbe probe(server.display());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{PERCH_BINARY};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ChildProcess perch(argv, {"DISPLAY=" + server.display()});
    ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");
    perch.write(R"({"command":"show","x":100,"y":50})"
                "\n");
    ASSERT_TRUE(probe.waitFor("perch", at(260, 94, 56, 56)));
    const Pixel shown = probe.waitForPixel(kButtonX - 14, kButtonY, c.button);
    EXPECT_TRUE(c.button(shown)) << shown.red << "," << shown.green << "," << shown.blue;
    EXPECT_EQ(mapsGdkPixbuf(perch.pid()), c.mapped);
    perch.closeStdin();
    EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
    EXPECT_EQ(perch.errorOutput(), "");
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
