// The real perch binary on the desktops users run: window managers on a private Xvfb, and sway
// nested in a window of one (its Xwayland then has a real pointer, driven through XTest on the
// outer server). One table of desktops; every check runs on each.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "child_process.h"
#include "headless_sway.h"
#include "perch_lines.h"
#include "x_window_probe.h"
#include "xtest_pointer.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::Pixel;
using e2e::WindowGeometry;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr unsigned long kGreen = 0x00ff00, kBlue = 0x0000ff, kRed = 0xff0000, kGrey = 0x404040;

enum class Kind { openbox, i3, sway };
struct Desktop {
  const char* name;
  Kind kind;
  // Whether the pointer is checked over a tiled window: sway 1.7 gives a press on the mascot
  // above a focused X window to that window (Xwayland's pointer jumps away at the press, with
  // perch's window or without it), so there it is checked over the desktop.
  bool pointerOverTiledWindow;
};
const Desktop kDesktops[] = {
    {"openbox", Kind::openbox, true}, {"i3", Kind::i3, true}, {"sway", Kind::sway, false}};

void PrintTo(const Desktop& desktop, std::ostream* out) { *out << desktop.name; }

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

auto is(unsigned long rgb) {
  return [=](const Pixel& p) {
    return p.red == int(rgb >> 16) && p.green == int((rgb >> 8) & 0xff) &&
           p.blue == int(rgb & 0xff);
  };
}
bool white(const Pixel& p) { return p.red >= 250 && p.green >= 250 && p.blue >= 250; }
std::string describe(const Pixel& p) {
  return std::to_string(p.red) + "," + std::to_string(p.green) + "," + std::to_string(p.blue);
}

auto at(int x, int y) {
  return [=](const WindowGeometry& g) {
    return g.viewable && g.x == x && g.y == y && g.width == 56 && g.height == 56;
  };
}

// Why the desktop cannot run here, or "".
std::string unavailable(Kind kind) {
  switch (kind) {
    case Kind::openbox:
      return access("/usr/bin/openbox", X_OK) == 0 ? "" : "no openbox (Debian package openbox)";
    case Kind::i3:
      return access("/usr/bin/i3", X_OK) == 0 ? "" : "no i3 (Debian package i3-wm)";
    case Kind::sway:
      if (access("/usr/bin/xhost", X_OK) != 0) return "no xhost (Debian package x11-xserver-utils)";
      return e2e::HeadlessSway::unavailableReason();
  }
  return "";
}

class PerchOnDesktopTest : public ::testing::TestWithParam<Desktop> {
 protected:
  void SetUp() override {
    const Kind kind = GetParam().kind;
    if (std::string why = unavailable(kind); !why.empty()) {
      GTEST_SKIP() << "skipped, " << GetParam().name << " cannot run here: " << why;
    }
    dir = fs::temp_directory_path() /
          ("perch-desktop-" + std::to_string(getpid()) + "-" + GetParam().name);
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);  // sway's user writes the stand-in's record here
    server = std::make_unique<e2e::XvfbServer>("1280x800x24");
    ASSERT_TRUE(server->running());
    screen = server->display();
    if (kind == Kind::sway) {
      sway = std::make_unique<e2e::HeadlessSway>("nobody", screen);
      display = sway->waitForXwayland();
      ASSERT_FALSE(display.empty()) << "sway started no Xwayland; its log:\n" << sway->logTail();
      // Xwayland admits sway's user alone: this test's own connections are let in too.
      ChildProcess xhost(asUser({"/usr/bin/xhost", "+si:localuser:" + userName()}));
      ASSERT_TRUE(e2e::exitedCleanly(xhost.waitExit(10s))) << xhost.errorOutput();
    } else {
      display = screen;
      // openbox owns the screen before it is ready for windows: it says when it is.
      std::vector<std::string> argv{"/usr/bin/openbox", "--sm-disable", "--startup",
                                    "/usr/bin/touch " + (dir / "ready").string()};
      if (kind == Kind::i3) {
        std::ofstream(dir / "i3.conf") << "# i3 config file (v4)\nfont pango:DejaVu Sans 8\n";
        argv = {"/usr/bin/i3", "-c", (dir / "i3.conf").string()};
      }
      manager = std::make_unique<ChildProcess>(argv, std::vector<std::string>{"DISPLAY=" + screen});
    }
    client = std::make_unique<e2e::XWindowProbe>(display);
    ASSERT_NE(client->display(), nullptr);
    if (manager != nullptr) {
      ASSERT_TRUE(waitForWindowManager()) << GetParam().name << " never took the screen";
    }
    pixels = std::make_unique<e2e::XWindowProbe>(screen);
    pointer = std::make_unique<e2e::XTestPointer>(screen);

    // A stand-in xdg-open that records what it is asked to open.
    std::ofstream script(dir / "xdg-open");
    script << "#!/bin/sh\necho \"$1\" >> '" << (dir / "opened").string() << "'\n";
    script.close();
    fs::permissions(dir / "xdg-open", fs::perms::all);
    std::vector<std::string> argv = {"/usr/bin/env", "-i", "DISPLAY=" + display,
                                     "PATH=" + dir.string() + ":/usr/bin:/bin"};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "G_SLICE"}) {
      if (const char* value = std::getenv(name)) argv.push_back(std::string(name) + "=" + value);
    }
    argv.push_back(PERCH_BINARY);
    perch = std::make_unique<ChildProcess>(asUser(argv));
    ASSERT_EQ(perch->readLine(10s), kReady);
  }

  void TearDown() override {
    if (perch != nullptr) {
      perch->closeStdin();
      std::string extra;
      EXPECT_TRUE(perch->readsEndOfOutput(5s, &extra)) << "unexpected output: " << extra;
      EXPECT_TRUE(e2e::exitedCleanly(perch->waitExit()));
      EXPECT_EQ(perch->errorOutput(), "");
    }
    perch.reset();
    pointer.reset();
    pixels.reset();
    client.reset();
    manager.reset();
    sway.reset();
    server.reset();
    if (!dir.empty()) fs::remove_all(dir);
  }

  // The command line that runs `argv` as the desktop's user.
  std::vector<std::string> asUser(std::vector<std::string> argv) const {
    if (sway == nullptr) return argv;
    std::vector<std::string> all = sway->asUser();
    if (argv.front() != "/usr/bin/env") {
      all.push_back("/usr/bin/env");
      all.push_back("DISPLAY=" + display);
    }
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
  }
  static std::string userName() {
    const passwd* account = getpwuid(geteuid());
    return account != nullptr ? account->pw_name : "root";
  }

  bool waitForWindowManager() {
    Display* d = client->display();
    const Atom selection = XInternAtom(d, "WM_S0", False);
    const bool saysReady = GetParam().kind == Kind::openbox;
    for (int i = 0; i < 1000; ++i) {
      if (XGetSelectionOwner(d, selection) != 0 && (!saysReady || fs::exists(dir / "ready"))) {
        return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  // A window of one colour from another program (this test): managed, full-screen, or
  // override-redirect like a menu or a locker.
  enum class Role { tiled, fullScreen, overrideRedirect };
  unsigned long makeWindow(Role role, unsigned long rgb, int x, int y, unsigned w, unsigned h) {
    Display* d = client->display();
    XSetWindowAttributes attributes{};
    attributes.background_pixel = rgb;
    attributes.override_redirect = role == Role::overrideRedirect;
    Window window =
        XCreateWindow(d, DefaultRootWindow(d), x, y, w, h, 0, CopyFromParent, InputOutput,
                      CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
    XSizeHints hints{};
    hints.flags = USPosition | USSize;
    hints.x = x;
    hints.y = y;
    hints.width = int(w);
    hints.height = int(h);
    XSetWMNormalHints(d, window, &hints);
    XClassHint classHint{const_cast<char*>("cover"), const_cast<char*>("cover")};
    XSetClassHint(d, window, &classHint);
    if (role == Role::fullScreen) {
      Atom state = XInternAtom(d, "_NET_WM_STATE_FULLSCREEN", False);
      XChangeProperty(d, window, XInternAtom(d, "_NET_WM_STATE", False), XA_ATOM, 32,
                      PropModeReplace, reinterpret_cast<unsigned char*>(&state), 1);
    }
    XMapRaised(d, window);
    XSync(d, False);
    return window;
  }

  void send(const std::string& line) { ASSERT_TRUE(perch->write(line + "\n")); }
  // The screen's pixel at (x, y) once it is one `wanted` accepts (or the last seen).
  template <typename Predicate>
  Pixel pixelAt(int x, int y, Predicate wanted) {
    return pixels->waitForPixel(x, y, wanted, 10000);
  }
  // Waits until the pointer, as perch's server has it, is at (x, y) with the first button held
  // or not: what the desktop passes on has reached the server.
  bool pointerReaches(int x, int y, bool held) {
    Display* d = client->display();
    for (int i = 0; i < 1000; ++i) {
      Window root, child;
      int rx = 0, ry = 0, wx = 0, wy = 0;
      unsigned mask = 0;
      XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
      if (rx == x && ry == y && ((mask & Button1Mask) != 0) == held) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  std::string opened() { return readFile(dir / "opened"); }
  std::string awaitOpened(size_t lines) {
    for (int i = 0; i < 1000; ++i) {
      const std::string all = opened();
      if (size_t(std::count(all.begin(), all.end(), '\n')) >= lines) return all;
      std::this_thread::sleep_for(10ms);
    }
    return opened();
  }

  fs::path dir;
  std::unique_ptr<e2e::XvfbServer> server;
  std::unique_ptr<e2e::HeadlessSway> sway;
  std::unique_ptr<ChildProcess> manager;
  std::string screen;   // where the pixels are seen and the pointer moves
  std::string display;  // where perch and the other programs' windows live
  std::unique_ptr<e2e::XWindowProbe> client, pixels;
  std::unique_ptr<e2e::XTestPointer> pointer;
  std::unique_ptr<ChildProcess> perch;
};

// The idle mascot at (260, 94); its button's white disc 14 pixels left of the centre (288, 122).
constexpr int kDiscX = 274, kDiscY = 122;

TEST_P(PerchOnDesktopTest, ShowsAboveATiledWindowAndAFullScreenOne) {
  makeWindow(Role::tiled, kGreen, 200, 60, 400, 300);
  const Pixel tiled = pixelAt(kDiscX, kDiscY, is(kGreen));
  ASSERT_TRUE(is(kGreen)(tiled)) << "the tiled window never showed: " << describe(tiled);
  send(R"({"command":"show","x":100,"y":50})");
  ASSERT_TRUE(client->waitFor("perch", at(260, 94)));
  Pixel p = pixelAt(kDiscX, kDiscY, white);
  EXPECT_TRUE(white(p)) << "above a tiled window the mascot shows " << describe(p);

  makeWindow(Role::fullScreen, kBlue, 0, 0, 300, 200);
  ASSERT_TRUE(is(kBlue)(pixelAt(900, 600, is(kBlue)))) << "the full-screen window never showed";
  p = pixelAt(kDiscX, kDiscY, white);
  EXPECT_TRUE(white(p)) << "above a full-screen window the mascot shows " << describe(p);
}

TEST_P(PerchOnDesktopTest, ClicksAndDragsOf200PixelsEachSnapOnce) {
  if (GetParam().pointerOverTiledWindow) {
    makeWindow(Role::tiled, kGreen, 200, 60, 400, 300);
    ASSERT_TRUE(is(kGreen)(pixelAt(kDiscX, kDiscY, is(kGreen))));
  }
  send(R"({"command":"show","x":100,"y":50})");
  ASSERT_TRUE(client->waitFor("perch", at(260, 94)));
  ASSERT_TRUE(white(pixelAt(kDiscX, kDiscY, white)));

  pointer->moveTo(600, 500);
  pointer->glideTo(288, 122, 10);
  ASSERT_TRUE(pointerReaches(288, 122, false));
  pointer->press();
  ASSERT_TRUE(pointerReaches(288, 122, true));
  pointer->release();
  EXPECT_EQ(awaitOpened(1), kDeepLink + "\n");

  // Right and back: each drag moves the mascot by the pointer's 200 pixels and reports one snap.
  struct Drag {
    int fromX, toX;
    const char* snap;
  };
  for (const Drag& drag : {Drag{288, 488, R"({"event":"snap","x":300,"y":50})"},
                           Drag{488, 288, R"({"event":"snap","x":100,"y":50})"}}) {
    SCOPED_TRACE(::testing::Message() << "drag to " << drag.toX);
    ASSERT_TRUE(pointerReaches(drag.fromX, 122, false));
    pointer->press();
    ASSERT_TRUE(pointerReaches(drag.fromX, 122, true));
    pointer->glideTo(drag.toX, 122, 10);
    EXPECT_TRUE(pointerReaches(drag.toX, 122, true)) << "the drag lost the pointer";
    pointer->release();
    auto line = perch->readLine(10s);
    ASSERT_TRUE(line) << "no snap";
    EXPECT_EQ(nlohmann::json::parse(*line), nlohmann::json::parse(drag.snap));
    // Where the pointer rests over the button the window may be widened around it (Xwayland).
    const int left = drag.toX - 28;
    EXPECT_TRUE(client->waitFor("perch", [&](const WindowGeometry& g) {
      return g.viewable && g.x <= left && g.y <= 94 && g.x + int(g.width) >= left + 56 &&
             g.y + int(g.height) >= 150;
    })) << "the mascot's window is not where it was dropped";
    EXPECT_TRUE(white(pixelAt(drag.toX - 14, kDiscY, white)));
  }
  // The next click is a click again.
  ASSERT_TRUE(pointerReaches(288, 122, false));
  pointer->press();
  ASSERT_TRUE(pointerReaches(288, 122, true));
  pointer->release();
  EXPECT_EQ(awaitOpened(2), kDeepLink + "\n" + kDeepLink + "\n");
}

// Another program's override-redirect windows stay above it: each is seen over the mascot after
// a "show" that moved it (and so placed it in the stack again) has been carried out.
TEST_P(PerchOnDesktopTest, AMenuAndALockerStillCoverIt) {
  send(R"({"command":"show","x":100,"y":50})");
  ASSERT_TRUE(client->waitFor("perch", at(260, 94)));
  ASSERT_TRUE(white(pixelAt(kDiscX, kDiscY, white)));
  struct Cover {
    const char* name;
    unsigned long rgb;
    int x, y;
    unsigned w, h;
  };
  const Cover covers[] = {{"menu", kRed, 250, 80, 100, 100}, {"locker", kGrey, 0, 0, 1280, 800}};
  int shift = 0;
  for (const Cover& c : covers) {
    SCOPED_TRACE(c.name);
    makeWindow(Role::overrideRedirect, c.rgb, c.x, c.y, c.w, c.h);
    ASSERT_TRUE(is(c.rgb)(pixelAt(kDiscX, kDiscY, is(c.rgb))));
    ++shift;
    send(R"({"command":"show","x":)" + std::to_string(100 + shift) + R"(,"y":50})");
    ASSERT_TRUE(client->waitFor("perch", at(260 + shift, 94)));
    const Pixel p = pixels->rootPixel(kDiscX, kDiscY);
    EXPECT_TRUE(is(c.rgb)(p)) << "the mascot climbed over it: " << describe(p);
  }
}

INSTANTIATE_TEST_SUITE_P(Desktops, PerchOnDesktopTest, ::testing::ValuesIn(kDesktops),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
