// perch-render: draws the mascot offscreen, as the window would show it, and saves it as PNG.
//
//   perch-render --out FILE.png [--state idle|starting] [--time SECONDS] [--size WxH]
//                [--avatar PATH] [--scale S]
//
// The state defaults to idle; the size (points) to 56x56 when idle and 220x144 when starting; the
// time (seconds since the start feedback began) to 0; the scale (pixels a point) to 1. Without
// --avatar the monogram is drawn.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "cairo_image.h"
#include "floating_mascot_view.h"
#include "mascot_constants.h"
#include "offscreen_canvas.h"

namespace {

using namespace perch;

// A desktop that never moves: one screen, a clock the tool sets, and no timers. The tool only
// draws, so everything but the clock and image loading does nothing.
class StillPlatform final : public MascotPlatform {
 public:
  double clock = 0;

  std::vector<Rect> screens() override { return {{0, 0, 1440, 900}}; }
  std::optional<Rect> mainScreen() override { return Rect{0, 0, 1440, 900}; }
  void setPanelFrame(const Rect&) override {}
  void setPanelOrigin(Point) override {}
  Rect panelFrame() override { return {}; }
  std::optional<Rect> panelScreen() override { return std::nullopt; }
  void orderFront() override {}
  void orderOut() override {}
  void setNeedsDisplay() override {}
  double now() override { return clock; }
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double, std::function<void()>) override {
    return nullptr;
  }
  void runAfter(double, std::function<void()>) override {}
  Point mouseLocation() override { return {}; }
  void setCursor(Cursor) override {}
  void openURL(std::string_view) override {}
  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override {
    return loadCairoImage(path);
  }
  void writeLine(std::string_view) override {}
  void terminate() override {}
};

int usage() {
  std::fprintf(stderr,
               "usage: perch-render --out FILE.png [--state idle|starting] [--time SECONDS]\n"
               "                    [--size WxH] [--avatar PATH] [--scale S]\n");
  return 2;
}

bool parseSize(const std::string& text, int& width, int& height) {
  char x = 0;
  char extra = 0;
  return std::sscanf(text.c_str(), "%d%c%d%c", &width, &x, &height, &extra) == 3 &&
         (x == 'x' || x == 'X') && width > 0 && height > 0 && width <= 4096 && height <= 4096;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out, state = "idle";
  std::optional<std::string> avatar, size;
  double time = 0, scale = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = argv[++i];
    if (arg == "--out") {
      out = value;
    } else if (arg == "--state") {
      state = value;
    } else if (arg == "--time") {
      char* end = nullptr;
      time = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0') return usage();
    } else if (arg == "--scale") {
      char* end = nullptr;
      scale = std::strtod(value.c_str(), &end);
      if (end == value.c_str() || *end != '\0' || !(scale >= 0.25 && scale <= 8)) return usage();
    } else if (arg == "--size") {
      size = value;
    } else if (arg == "--avatar") {
      avatar = value;
    } else {
      return usage();
    }
  }
  if (out.empty() || (state != "idle" && state != "starting")) return usage();
  const bool starting = state == "starting";
  int width = starting ? static_cast<int>(expandedWindowWidth) : static_cast<int>(idleWindowSize);
  int height = starting ? static_cast<int>(expandedWindowHeight) : static_cast<int>(idleWindowSize);
  if (size && !parseSize(*size, width, height)) return usage();

  StillPlatform platform;
  DrawingOnlyOwner owner;
  FloatingMascotView view(platform, owner, avatar);
  if (avatar && view.avatar() == nullptr) {
    std::fprintf(stderr, "perch-render: %s is not a readable image; drawing the monogram\n",
                 avatar->c_str());
  }
  view.setFrame({0, 0, static_cast<double>(width), static_cast<double>(height)});
  if (starting) {
    view.startFeedback();  // at clock 0
    platform.clock = time;
  }

  OffscreenCanvas picture(width, height, CairoCanvas::Blend::ramp, scale);
  view.draw(picture.canvas());
  if (!picture.writePng(out)) {
    std::fprintf(stderr, "perch-render: cannot write %s\n", out.c_str());
    return 1;
  }
  return 0;
}
