// The real mascot's feedback frames as the server holds them, without and with a compositor:
// perch is stopped at moments through a feedback and the window's own pixels and shapes are read.
// During a feedback perch redraws, flattens and sends only the square of the glows and rings;
// everything around that square must be exactly what a whole redraw gives, and the window's shapes
// must be exactly what its pixels paint, rings included.
#include <gtest/gtest.h>
// Xlib's macros (None, Bool) clash with gtest's names: it comes after.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "child_process.h"
#include "fake_mascot_platform.h"
#include "floating_mascot_view.h"
#include "frame_composer.h"
#include "x_window_probe.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using perch::PixelRect;
using namespace std::chrono_literals;

constexpr int kWidth = 220, kHeight = 144;

// How many times each pixel of the window is in the region.
std::vector<int> coverage(const std::vector<PixelRect>& region) {
  std::vector<int> counts(kWidth * kHeight, 0);
  for (const PixelRect& r : region) {
    for (int y = std::max(0, r.y); y < std::min(kHeight, r.y + r.height); ++y) {
      for (int x = std::max(0, r.x); x < std::min(kWidth, r.x + r.width); ++x)
        ++counts[y * kWidth + x];
    }
  }
  for (int& c : counts) c = c > 0;
  return counts;
}

// The pixels in one region and not the other.
int differences(const std::vector<PixelRect>& a, const std::vector<PixelRect>& b) {
  const auto ca = coverage(a), cb = coverage(b);
  int n = 0;
  for (size_t i = 0; i < ca.size(); ++i) n += ca[i] != cb[i];
  return n;
}

std::vector<PixelRect> shape(Display* d, Window window, int kind) {
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(d, window, kind, &count, &ordering);
  std::vector<PixelRect> region;
  for (int i = 0; i < count; ++i) {
    region.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height});
  }
  if (rects != nullptr) XFree(rects);
  return region;
}

// Bytes that `pid` wrote on its sockets (its X connection) and their readers have not read yet:
// a Unix socket counts them against its sender until they are read. -1 when it cannot tell.
long unreadBytes(pid_t pid) {
  const int process = int(syscall(SYS_pidfd_open, pid, 0));
  if (process < 0) return -1;
  long unread = 0;
  std::error_code error;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
    if (std::filesystem::read_symlink(entry.path(), error).string().rfind("socket:", 0) != 0) {
      continue;
    }
    const int fd =
        int(syscall(SYS_pidfd_getfd, process, std::stoi(entry.path().filename().string()), 0));
    int queued = 0;
    if (fd < 0 || ioctl(fd, SIOCOUTQ, &queued) != 0) unread = -1;
    if (fd >= 0) close(fd);
    if (unread < 0) break;
    unread += queued;
  }
  close(process);
  return error ? -1 : unread;
}

TEST(PerchFramesTest, FramesRedrawnInPartMatchAWholeRedrawAndTheirShapes) {
  for (bool composited : {false, true}) {
    SCOPED_TRACE(composited ? "under xcompmgr" : "no compositor");
    e2e::XvfbServer server("1280x800x24");
    ASSERT_TRUE(server.running());
    e2e::XWindowProbe probe(server.display());
    std::optional<ChildProcess> compositor;
    if (composited) {
      compositor.emplace(std::vector<std::string>{"/usr/bin/xcompmgr"},
                         std::vector<std::string>{"DISPLAY=" + server.display()});
      ASSERT_TRUE(probe.waitForCompositor());
    }
    ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display()});
    ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");
    perch.write(R"({"command":"show","x":100,"y":50})"
                "\n");
    ASSERT_TRUE(probe.waitFor("perch", [](auto& g) { return g.viewable; }));
    perch.write(R"({"command":"startFeedback"})"
                "\n");
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(probe.waitFor("perch", [](auto& g) {
      return g.viewable && g.width == unsigned(kWidth) && g.height == unsigned(kHeight);
    }));
    const auto window = probe.findWindow("perch");
    ASSERT_TRUE(window);

    // The same view composed whole, offscreen: around the glows and rings it is the same at any
    // moment of the feedback.
    perch::FakeMascotPlatform platform;
    perch::DrawingOnlyOwner owner;
    perch::FloatingMascotView view(platform, owner, std::nullopt);
    view.setFrame({0, 0, kWidth, kHeight});
    view.startFeedback();
    platform.advance(1);
    const perch::FrameLayout layout{0, 0, kHeight, !composited};
    std::vector<std::uint32_t> whole(kWidth * kHeight);
    perch::FrameComposer reference;
    ASSERT_TRUE(reference.compose(
        {reinterpret_cast<std::uint8_t*>(whole.data()), kWidth * 4, kWidth, kHeight}, layout,
        std::nullopt, [&](perch::Canvas& c) { view.draw(c); }));
    const PixelRect rings =
        perch::FrameComposer::pixelsOf(view.startingEffectsArea(), layout, kWidth, kHeight);
    const PixelRect hit = perch::FrameComposer::pixelsOf(view.hitArea(), layout, kWidth, kHeight);
    auto inRings = [&](int x, int y) {
      return x >= rings.x && x < rings.x + rings.width && y >= rings.y &&
             y < rings.y + rings.height;
    };
    const std::vector<int> referencePainted = coverage(reference.painted());

    Display* d = probe.display();
    for (double moment : {0.45, 1.2, 2.1}) {
      SCOPED_TRACE(testing::Message() << "at " << moment << " s");
      std::this_thread::sleep_until(began + std::chrono::duration<double>(moment));
      ASSERT_EQ(kill(perch.pid(), SIGSTOP), 0);
      // The server has read all that perch sent before it stopped, and one round trip of ours
      // comes after what it read.
      long unread = unreadBytes(perch.pid());
      for (int i = 0; i < 500 && unread != 0; ++i) {
        std::this_thread::sleep_for(10ms);
        unread = unreadBytes(perch.pid());
      }
      EXPECT_EQ(unread, 0) << "the server never read all that perch sent";
      XSync(d, False);
      XImage* image = XGetImage(d, *window, 0, 0, kWidth, kHeight, AllPlanes, ZPixmap);
      const auto bounding = shape(d, *window, ShapeBounding);
      const auto input = shape(d, *window, ShapeInput);
      ASSERT_EQ(kill(perch.pid(), SIGCONT), 0);
      ASSERT_NE(image, nullptr);
      ASSERT_EQ(image->depth, 32);
      std::vector<std::uint32_t> shown(kWidth * kHeight);
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) shown[y * kWidth + x] = XGetPixel(image, x, y);
      }
      XDestroyImage(image);
      std::vector<PixelRect> painted =
          perch::paintedRegion(reinterpret_cast<std::uint8_t*>(shown.data()), kWidth * 4, kWidth,
                               kHeight, composited ? 1 : 128);
      const std::vector<int> shownPainted = coverage(painted);
      int differ = 0, ringPixels = 0;
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          const int i = y * kWidth + x;
          if (inRings(x, y)) {
            ringPixels += shownPainted[i];
          } else {
            differ += shown[i] != whole[i] || shownPainted[i] != referencePainted[i];
          }
        }
      }
      EXPECT_EQ(differ, 0) << "pixels around the glows and rings unlike a whole redraw";
      EXPECT_GT(ringPixels, 1000) << "the glows and rings show";
      if (composited) {
        EXPECT_EQ(differences(bounding, {{0, 0, kWidth, kHeight}}), 0) << "not cut";
      } else {
        EXPECT_EQ(differences(bounding, painted), 0) << "cut to what it shows";
      }
      painted.push_back(hit);
      EXPECT_EQ(differences(input, painted), 0) << "clicks go where it paints, and to the button";
    }
    perch.closeStdin();
    EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit()));
    if (compositor) {
      compositor->kill(SIGTERM);
      compositor->waitExit();
    }
  }
}

}  // namespace
