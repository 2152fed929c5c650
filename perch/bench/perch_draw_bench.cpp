// perch_draw_bench: how long one frame of the start feedback takes to draw on the cairo canvas.
//
// Draws the full expanded picture (glows, rings, bubble and label, button) into a 220 x 144 point
// offscreen ARGB32 surface, at 1, 1.5 and 2 pixels a point (220 x 144 to 440 x 288 pixels), at a
// fresh moment of the 3-second feedback each frame, once with the monogram and once with a
// 512 x 512 avatar, as perch draws it (the foreground kept, the glows from a ramp) and, for
// comparison, directly (everything afresh, cairo's radial pattern), and times each frame; as the
// floor, times a plain cairo fill of the same pixels. Prints the median and p99 of each, their
// ratio to the floor, the share of a 60 Hz frame budget, and whether the goals (p50 <= 150 us and
// at most 60 times the floor, p99 <= 300 us) are met. Asserts nothing.
#include <cairo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cairo_image.h"
#include "mascot_constants.h"
#include "mascot_drawing.h"
#include "offscreen_canvas.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace perch;

constexpr int warmUpFrames = 200;
constexpr int timedFrames = 3000;
constexpr double frameBudgetUs = 1e6 / 60;
constexpr double p50GoalUs = 150, p99GoalUs = 300, floorRatioGoal = 60;

struct Figures {
  double p50 = 0, p99 = 0;
};

Figures summarize(std::vector<double> us) {
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us[std::min(us.size() - 1, us.size() * 99 / 100)]};
}

// Times `frame(i)` after an untimed clear of the surface, in microseconds.
Figures time(OffscreenCanvas& surface, const std::function<void(int)>& frame) {
  std::vector<double> us;
  us.reserve(timedFrames);
  for (int i = 0; i < warmUpFrames + timedFrames; ++i) {
    surface.clear();
    const auto start = Clock::now();
    frame(i);
    cairo_surface_flush(surface.surface());
    const auto end = Clock::now();
    if (i >= warmUpFrames)
      us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
  }
  return summarize(std::move(us));
}

// A 512 x 512 avatar with colour everywhere, written to a temporary PNG and loaded as perch
// loads one.
std::unique_ptr<CairoImage> makeAvatar() {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 512, 512);
  cairo_t* cr = cairo_create(s);
  cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 512, 512);
  cairo_pattern_add_color_stop_rgb(p, 0, 0.9, 0.5, 0.2);
  cairo_pattern_add_color_stop_rgb(p, 1, 0.2, 0.4, 0.9);
  cairo_set_source(cr, p);
  cairo_paint(cr);
  cairo_pattern_destroy(p);
  cairo_destroy(cr);
  const std::string path =
      (std::filesystem::temp_directory_path() / "perch_draw_bench_avatar.png").string();
  cairo_surface_write_to_png(s, path.c_str());
  cairo_surface_destroy(s);
  auto image = loadCairoImage(path);
  std::filesystem::remove(path);
  return image;
}

void print(const char* name, Figures f, Figures floor, bool judged) {
  std::printf(
      "  %-34s p50 %8.1f us  p99 %8.1f us  ratio to floor p50 %6.1f  p99 %6.1f  "
      "budget %5.2f%% (p99 %5.2f%%)\n",
      name, f.p50, f.p99, f.p50 / floor.p50, f.p99 / floor.p99, 100 * f.p50 / frameBudgetUs,
      100 * f.p99 / frameBudgetUs);
  if (!judged) return;
  const bool met = f.p50 <= p50GoalUs && f.p99 <= p99GoalUs && f.p50 / floor.p50 <= floorRatioGoal;
  std::printf("  %-34s goal p50 <= %.0f us and <= %.0f x floor, p99 <= %.0f us: %s\n", "",
              p50GoalUs, floorRatioGoal, p99GoalUs, met ? "met" : "MISSED");
}

void run(double scale, const CanvasImage* avatar) {
  const int width = static_cast<int>(expandedWindowWidth);
  const int height = static_cast<int>(expandedWindowHeight);
  OffscreenCanvas surface(width, height, CairoCanvas::Blend::ramp, scale);
  const Rect button{expandedWindowWidth - expandedButtonRightInset - buttonSize,
                    expandedButtonBottomInset, buttonSize, buttonSize};

  // Every frame lands at another moment of the feedback, 1/60 second apart, drawn as perch
  // draws it: what does not move is kept from the first frame on.
  MascotPainter painter;
  const Rect bounds{0, 0, expandedWindowWidth, expandedWindowHeight};
  auto feedbackFrame = [&](const CanvasImage* image) {
    painter.reset();
    return [&surface, &painter, button, bounds, image](int i) {
      const double elapsed = (i % 180) * animationTickSeconds;
      painter.draw(surface.canvas(), MascotPicture{button, true, elapsed, image, bounds});
    };
  };
  OffscreenCanvas direct(width, height, CairoCanvas::Blend::pattern, scale);
  auto directFrame = [&](const CanvasImage* image) {
    return [&direct, button, bounds, image](int i) {
      const double elapsed = (i % 180) * animationTickSeconds;
      drawMascot(direct.canvas(), MascotPicture{button, true, elapsed, image, bounds});
    };
  };

  cairo_t* cr = cairo_create(surface.surface());
  const Figures floor = time(surface, [&](int) {
    cairo_set_source_rgba(cr, 0.52, 0.43, 1.0, 0.5);
    cairo_rectangle(cr, 0, 0, surface.width(), surface.height());
    cairo_fill(cr);
  });
  cairo_destroy(cr);
  const Figures monogram = time(surface, feedbackFrame(nullptr));
  const Figures withAvatar = time(surface, feedbackFrame(avatar));
  const Figures directMonogram = time(direct, directFrame(nullptr));
  const Figures directAvatar = time(direct, directFrame(avatar));

  std::printf(
      "perch draw time at scale %g, one start-feedback frame at %d x %d points, %d x %d pixels "
      "offscreen (ARGB32), %d frames each after %d warm-up\n",
      scale, width, height, surface.width(), surface.height(), timedFrames, warmUpFrames);
  std::printf("  %-34s p50 %8.1f us  p99 %8.1f us\n", "floor: plain cairo fill", floor.p50,
              floor.p99);
  print("start feedback, monogram", monogram, floor, true);
  if (avatar) print("start feedback, 512 x 512 avatar", withAvatar, floor, true);
  print("drawn directly, monogram", directMonogram, floor, false);
  if (avatar) print("drawn directly, 512 x 512 avatar", directAvatar, floor, false);
  std::printf("  budget: share of a %.1f ms frame (60 Hz)\n", frameBudgetUs / 1000);
}

}  // namespace

int main() {
  const auto avatar = makeAvatar();
  for (double scale : {1.0, 1.5, 2.0}) run(scale, avatar.get());
  return 0;
}
