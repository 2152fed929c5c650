// The mascot as it comes out of the cairo canvas: the real view on the fake platform (manual
// clock), drawn offscreen and checked by pixel.
#include <cairo.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "cairo_image.h"
#include "fake_mascot_platform.h"
#include "floating_mascot_view.h"
#include "mascot_drawing.h"
#include "offscreen_canvas.h"

namespace perch {
namespace {

namespace fs = std::filesystem;

const Color white{1, 1, 1, 1};
const Color monogramViolet{0.42, 0.34, 0.9, 1};
const Color bubbleFill{0.118, 0.114, 0.149, 0.94};

bool near(const Color& a, const Color& b, double tolerance) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance && std::abs(a.alpha - b.alpha) <= tolerance;
}

::testing::AssertionResult looksLike(const Color& actual, const Color& expected,
                                     double tolerance = 0.03) {
  if (near(actual, expected, tolerance)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "pixel (" << actual.red << ", " << actual.green << ", " << actual.blue << ", "
         << actual.alpha << "), expected about (" << expected.red << ", " << expected.green << ", "
         << expected.blue << ", " << expected.alpha << ")";
}

// An image file written for the test and removed at the end.
class TempPng {
 public:
  // Paints a `width` x `height` picture with `paint` (cairo's y-down image coordinates).
  template <typename Paint>
  TempPng(int width, int height, Paint paint) {
    static int serial = 0;
    path_ = (fs::temp_directory_path() / ("perch_render_test_" + std::to_string(getpid()) + "_" +
                                          std::to_string(serial++) + ".png"))
                .string();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    cairo_t* cr = cairo_create(surface);
    paint(cr);
    cairo_destroy(cr);
    cairo_surface_write_to_png(surface, path_.c_str());
    cairo_surface_destroy(surface);
  }
  ~TempPng() { fs::remove(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The view at a size, on the fake platform, which reads real image files.
struct Scene {
  Scene(Size size, std::optional<std::string> avatarPath = std::nullopt) {
    platform.imageLoader = [](const std::string& path) { return loadCairoImage(path); };
    view = std::make_unique<FloatingMascotView>(platform, owner, std::move(avatarPath));
    view->setFrame({0, 0, size.width, size.height});
  }
  // The feedback began `elapsed` seconds ago.
  void startedAgo(double elapsed) {
    view->startFeedback();
    platform.advance(elapsed);
  }
  std::unique_ptr<OffscreenCanvas> render(double scale = 1) {
    const Rect b = view->bounds();
    auto picture = std::make_unique<OffscreenCanvas>(
        static_cast<int>(b.width), static_cast<int>(b.height), CairoCanvas::Blend::ramp, scale);
    view->draw(picture->canvas());
    return picture;
  }
  FakeMascotPlatform platform;
  DrawingOnlyOwner owner;
  std::unique_ptr<FloatingMascotView> view;
};

double distance(double x, double y, Point c) { return std::hypot(x - c.x, y - c.y); }

// --- the button -------------------------------------------------------------------------------

TEST(MascotRenderTest, IdleButtonIsAWhiteDiscWithTheMonogramAndNothingAround) {
  Scene scene({56, 56});
  auto picture = scene.render();
  const Point c{28, 28};

  for (Point p : {Point{10.5, 28.5}, Point{45.5, 28.5}, Point{28.5, 46.5}, Point{28.5, 9.5}}) {
    EXPECT_TRUE(looksLike(picture->pixelAt(p.x, p.y), white)) << p.x << ", " << p.y;
  }
  // Outside the circle, inside the button's square, and in the corners: untouched.
  for (Point p : {Point{6.5, 6.5}, Point{49.5, 49.5}, Point{0.5, 0.5}, Point{55.5, 28.5}}) {
    EXPECT_EQ(picture->pixelAt(p.x, p.y).alpha, 0) << p.x << ", " << p.y;
  }

  // The letter in its violet, inside the circle, its line box's corner at (20, 15).
  int violet = 0;
  double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  for (int y = 0; y < 56; ++y) {
    for (int x = 0; x < 56; ++x) {
      if (!near(picture->pixelAt(x + 0.5, y + 0.5), monogramViolet, 0.04)) continue;
      ++violet;
      EXPECT_LT(distance(x + 0.5, y + 0.5, c), 22);
      x0 = std::min<double>(x0, x), x1 = std::max<double>(x1, x + 1);
      y0 = std::min<double>(y0, y), y1 = std::max<double>(y1, y + 1);
    }
  }
  EXPECT_GT(violet, 40);
  EXPECT_GE(x0, 20);
  EXPECT_GE(y0, 15 + 3) << "the letter sits on its baseline, above the line box's bottom";
  EXPECT_LE(y1, 15 + 30);
  EXPECT_NEAR((y0 + y1) / 2, 28, 4) << "about the button's middle";
}

TEST(MascotRenderTest, RimIsALightLineJustInsideTheButtonEdge) {
  // Over a black avatar the rim's white at 0.7 shows as light grey in the outermost point.
  TempPng black(50, 50, [](cairo_t* cr) {
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_paint(cr);
  });
  Scene scene({56, 56}, black.path());
  ASSERT_NE(scene.view->avatar(), nullptr);
  auto picture = scene.render();
  const Color grey{0.7, 0.7, 0.7, 1}, dark{0, 0, 0, 1};
  // Left, right, bottom and top edges of the button, through its centre.
  const struct {
    Point rim, inside, outside;
  } edges[] = {
      {{6.5, 28.5}, {7.5, 28.5}, {5.5, 28.5}},
      {{49.5, 28.5}, {48.5, 28.5}, {50.5, 28.5}},
      {{28.5, 6.5}, {28.5, 7.5}, {28.5, 5.5}},
      {{28.5, 49.5}, {28.5, 48.5}, {28.5, 50.5}},
  };
  for (const auto& e : edges) {
    EXPECT_TRUE(looksLike(picture->pixelAt(e.rim.x, e.rim.y), grey, 0.06));
    EXPECT_TRUE(looksLike(picture->pixelAt(e.inside.x, e.inside.y), dark, 0.05));
    EXPECT_LT(picture->pixelAt(e.outside.x, e.outside.y).alpha, 0.05);
  }
  EXPECT_TRUE(looksLike(picture->pixelAt(28, 28), dark, 0.01)) << "no monogram over an avatar";
}

TEST(MascotRenderTest, WideAvatarIsScaledToCoverTheCircleAndCropped) {
  // 200 x 100 in bands of 50: red, green, blue, red. Scaled by 0.44 onto 88 x 44 centred on the
  // button, only the middle two bands fall inside the circle, split at its centre line.
  TempPng bands(200, 100, [](cairo_t* cr) {
    const double colours[4][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}};
    for (int i = 0; i < 4; ++i) {
      cairo_set_source_rgb(cr, colours[i][0], colours[i][1], colours[i][2]);
      cairo_rectangle(cr, i * 50, 0, 50, 100);
      cairo_fill(cr);
    }
  });
  Scene scene({56, 56}, bands.path());
  auto picture = scene.render();
  const Color green{0, 1, 0, 1}, blue{0, 0, 1, 1};
  const Point c{28, 28};

  EXPECT_TRUE(looksLike(picture->pixelAt(12.5, 28.5), green));
  EXPECT_TRUE(looksLike(picture->pixelAt(26.5, 28.5), green));
  EXPECT_TRUE(looksLike(picture->pixelAt(29.5, 28.5), blue));
  EXPECT_TRUE(looksLike(picture->pixelAt(43.5, 28.5), blue));
  // Up to the top and bottom of the circle: covered, not letterboxed.
  EXPECT_TRUE(looksLike(picture->pixelAt(24.5, 47.5), green));
  EXPECT_TRUE(looksLike(picture->pixelAt(31.5, 8.5), blue));
  // The outer bands lie beyond the circle, where nothing is drawn.
  EXPECT_EQ(picture->pixelAt(3.5, 28.5).alpha, 0);
  EXPECT_EQ(picture->pixelAt(52.5, 28.5).alpha, 0);
  for (int y = 0; y < 56; ++y) {
    for (int x = 0; x < 56; ++x) {
      if (distance(x + 0.5, y + 0.5, c) > 20.5) continue;
      ASSERT_LT(picture->pixelAt(x + 0.5, y + 0.5).red, 0.1) << "red at " << x << ", " << y;
    }
  }
}

TEST(MascotRenderTest, MissingOrUnreadableAvatarGivesTheMonogram) {
  TempPng placeholder(4, 4, [](cairo_t*) {});
  fs::resize_file(placeholder.path(), 10);  // a PNG cut short
  for (const std::string& path : {std::string("/nonexistent/avatar.png"), placeholder.path()}) {
    Scene scene({56, 56}, path);
    EXPECT_EQ(scene.view->avatar(), nullptr);
    auto picture = scene.render();
    EXPECT_TRUE(looksLike(picture->pixelAt(10.5, 28.5), white));
    int violet = 0;
    for (int y = 15; y < 45; ++y) {
      for (int x = 15; x < 45; ++x)
        violet += near(picture->pixelAt(x + .5, y + .5), monogramViolet, .04);
    }
    EXPECT_GT(violet, 40) << path;
  }
}

// --- the start feedback -----------------------------------------------------------------------

TEST(MascotRenderTest, ExpandedStartShowsTheListeningBubbleWithItsLabel) {
  Scene scene({220, 144});
  scene.startedAgo(0.4);
  auto picture = scene.render();

  OffscreenCanvas scratch(8, 8);
  const Size label = scratch.canvas().measureText("I'm listening", {13, FontWeight::semibold});
  const Rect bubble{166 - 12 - label.width - 28, 58, label.width + 28, 28};

  // The fill, in the padding left of the label and below the label's line box.
  EXPECT_TRUE(looksLike(picture->pixelAt(bubble.minX() + 7, 72), bubbleFill));
  EXPECT_TRUE(looksLike(picture->pixelAt(bubble.midX(), 59.5), bubbleFill));
  EXPECT_TRUE(looksLike(picture->pixelAt(bubble.maxX() - 4, 72), bubbleFill, 0.05));
  // Rounded corners, and nothing beyond the bubble.
  EXPECT_LT(picture->pixelAt(bubble.minX() + 0.5, 58.5).alpha, 0.3);
  EXPECT_EQ(picture->pixelAt(bubble.minX() - 2, 72).alpha, 0);
  EXPECT_EQ(picture->pixelAt(bubble.midX(), 90).alpha, 0);
  EXPECT_EQ(picture->pixelAt(bubble.midX(), 54).alpha, 0);

  // The tail, dark, reaching towards the button; violet glow just beside it.
  const Color tail = picture->pixelAt(156.5, 72);
  EXPECT_LT(tail.red, 0.2);
  EXPECT_GT(tail.alpha, 0.93);
  EXPECT_GT(picture->pixelAt(157.5, 77.5).blue, 0.9) << "glow above the tail";

  // The label: white ink inside the bubble, starting 14 in from its left edge.
  int whiteInk = 0;
  for (int y = 58; y < 86; ++y) {
    for (int x = static_cast<int>(bubble.minX()); x < bubble.maxX(); ++x) {
      const Color p = picture->pixelAt(x + 0.5, y + 0.5);
      if (p.red > 0.85 && p.green > 0.85 && p.blue > 0.85 && p.alpha > 0.9) {
        ++whiteInk;
        EXPECT_GE(x, bubble.minX() + 14 - 1);
        EXPECT_LE(x, bubble.minX() + 14 + label.width + 1);
      }
    }
  }
  EXPECT_GT(whiteInk, 60);
}

TEST(MascotRenderTest, GlowIsVioletNearTheButtonCutAtItsOvalAndGoneAtTheCorners) {
  Scene scene({220, 144});
  scene.startedAgo(0.4);  // outer glow 90.72 across: its oval ends 45.36 from the centre
  auto picture = scene.render();
  const Color near26 = picture->pixelAt(188.5, 98.5);  // 26 above the centre, between rings
  EXPECT_GT(near26.blue, 0.95);
  EXPECT_GT(near26.red, near26.green);
  EXPECT_GT(near26.blue - near26.red, 0.3);
  EXPECT_GT(near26.alpha, 0.45);
  EXPECT_GT(picture->pixelAt(188.5, 115.5).alpha, 0.12) << "still 29% of the centre's alpha";
  EXPECT_EQ(picture->pixelAt(188.5, 118.5).alpha, 0) << "outside the oval";
  for (Point p : {Point{0.5, 0.5}, Point{219.5, 0.5}, Point{0.5, 143.5}, Point{219.5, 143.5}}) {
    EXPECT_EQ(picture->pixelAt(p.x, p.y).alpha, 0) << p.x << ", " << p.y;
  }
}

// The radii (from the button's centre, straight up) at which the alpha peaks outside the disc.
std::vector<double> ringRadii(OffscreenCanvas& picture) {
  std::vector<double> alpha;
  for (int row = 72 + 23; row < 144; ++row)
    alpha.push_back(picture.pixelAt(188.5, row + 0.5).alpha);
  std::vector<double> peaks;
  for (size_t i = 2; i + 2 < alpha.size(); ++i) {
    const double a = alpha[i];
    if (a >= alpha[i - 1] && a > alpha[i + 1] && a > alpha[i - 2] + 0.03 &&
        a > alpha[i + 2] + 0.03) {
      peaks.push_back(23 + i + 0.5);
    }
  }
  return peaks;
}

TEST(MascotRenderTest, RingsSitAtTheirSizesOverTime) {
  struct Moment {
    double elapsed;
    std::vector<double> radii;  // ring radii beyond the button, from the rings' diameters
    bool ringAtButton;          // a ring still waits at the button's size
  };
  const Moment moments[] = {
      {0, {}, true},                 // all three at 44
      {0.4, {29.61}, true},          // ring 1 at 59.22
      {0.925, {27.11, 39.6}, true},  // ring 2 at 54.21, ring 1 at 79.2
      {1.6, {36.57, 52.44}, false},  // rings 2 and 3 at 72.6 and 73.66 meet; ring 1 at 104.89
  };
  for (const Moment& m : moments) {
    SCOPED_TRACE(testing::Message() << "t = " << m.elapsed);
    Scene scene({220, 144});
    scene.startedAgo(m.elapsed);
    auto picture = scene.render();
    const std::vector<double> found = ringRadii(*picture);
    ASSERT_EQ(found.size(), m.radii.size()) << "peaks found: " << testing::PrintToString(found);
    for (size_t i = 0; i < found.size(); ++i) EXPECT_NEAR(found[i], m.radii[i], 1.0);
    // A ring at the button's size shows its outer half as a near-opaque violet band.
    const Color band = picture->pixelAt(188.5, 72 + 22.5);
    EXPECT_EQ(band.alpha > 0.9 && band.blue > 0.95 && band.red < 0.8, m.ringAtButton)
        << band.red << " " << band.alpha;
  }
}

TEST(MascotRenderTest, ExpandedViewWithoutFeedbackShowsOnlyTheButton) {
  Scene scene({220, 144});
  scene.startedAgo(1);
  scene.view->stopFeedback();
  scene.view->setFrame({0, 0, 220, 144});
  auto picture = scene.render();
  const Point c{188, 72};
  for (int y = 0; y < 144; ++y) {
    for (int x = 0; x < 220; ++x) {
      const double d = distance(x + 0.5, y + 0.5, c);
      const double alpha = picture->pixelAt(x + 0.5, y + 0.5).alpha;
      if (d > 22.8) {
        ASSERT_EQ(alpha, 0) << x << ", " << y;
      } else if (d < 21.2) {
        ASSERT_EQ(alpha, 1) << x << ", " << y;
      }
    }
  }
}

TEST(MascotRenderTest, StartingAtTheIdleSizeLeavesTheButtonAsWhenIdle) {
  // The bubble falls left of the small view; the effects show only around the button.
  Scene idle({56, 56});
  auto still = idle.render();
  Scene starting({56, 56});
  starting.startedAgo(0.4);
  auto moving = starting.render();
  for (int y = 0; y < 56; ++y) {
    for (int x = 0; x < 56; ++x) {
      if (distance(x + 0.5, y + 0.5, {28, 28}) > 21) continue;
      const Color a = still->pixelAt(x + 0.5, y + 0.5), b = moving->pixelAt(x + 0.5, y + 0.5);
      ASSERT_TRUE(near(a, b, 1e-9)) << x << ", " << y;
    }
  }
  EXPECT_GT(moving->pixelAt(28.5, 53.5).alpha, 0.2) << "glow above the button";
  EXPECT_LT(moving->pixelAt(2.5, 28.5).red, 0.8) << "no white label reaches the view";
}

// --- drawing at the cost of the moving parts only --------------------------------------------

// The largest difference of one channel, in 8-bit steps, between two pictures of one size as
// their surfaces hold them (premultiplied).
// The largest difference of a channel between two pictures of one size, and how many pixels
// have a channel that differs by more than 1.
struct Difference {
  int largest = 0, beyondOne = 0;
};

Difference difference(OffscreenCanvas& a, OffscreenCanvas& b) {
  cairo_surface_flush(a.surface());
  cairo_surface_flush(b.surface());
  const unsigned char* pa = cairo_image_surface_get_data(a.surface());
  const unsigned char* pb = cairo_image_surface_get_data(b.surface());
  const int stride = cairo_image_surface_get_stride(a.surface());
  Difference d;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      int most = 0;
      for (int c = 0; c < 4; ++c) {
        const size_t i = static_cast<size_t>(y) * stride + 4 * x + c;
        most = std::max(most, std::abs(int(pa[i]) - int(pb[i])));
      }
      d.largest = std::max(d.largest, most);
      if (most > 1) ++d.beyondOne;
    }
  }
  return d;
}

int largestDifference(OffscreenCanvas& a, OffscreenCanvas& b) { return difference(a, b).largest; }

// The picture drawn directly, every layer afresh and the glows by cairo's radial pattern.
std::unique_ptr<OffscreenCanvas> drawnDirectly(const MascotPicture& picture, double scale = 1) {
  auto canvas = std::make_unique<OffscreenCanvas>(static_cast<int>(picture.bounds.width),
                                                  static_cast<int>(picture.bounds.height),
                                                  CairoCanvas::Blend::pattern, scale);
  drawMascot(canvas->canvas(), picture);
  return canvas;
}

TEST(MascotRenderTest, KeptForegroundAndRampedGlowsDrawWhatDirectDrawingDraws) {
  TempPng photo(512, 512, [](cairo_t* cr) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 512, 512);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.9, 0.5, 0.2);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.2, 0.4, 0.9);
    cairo_set_source(cr, p);
    cairo_paint(cr);
    cairo_pattern_destroy(p);
  });
  const Size sizes[] = {{56, 56}, {220, 144}, {300, 181}};
  const double moments[] = {0, 0.4, 0.925, 1.6, 2.4};
  for (bool withAvatar : {false, true}) {
    for (size_t s = 0; s < std::size(sizes); ++s) {
      Scene scene(sizes[s], withAvatar ? std::optional(photo.path()) : std::nullopt);
      auto check = [&](const std::string& what) {
        SCOPED_TRACE(testing::Message()
                     << what << ", " << scene.view->bounds().width << " x "
                     << scene.view->bounds().height << (withAvatar ? ", avatar" : ", monogram"));
        FloatingMascotView& view = *scene.view;
        const MascotPicture picture{view.buttonRect(), view.isStarting(),
                                    scene.platform.now() - view.startTime(), view.avatar(),
                                    view.bounds()};
        EXPECT_LE(largestDifference(*scene.render(), *drawnDirectly(picture)), 1);
        // At other scales in turn, after the first: what was kept for one never shows at another.
        // Each glow's ramp and cairo's pattern both come within 1/255 of the exact blend, but
        // may round to either side of it where the two glows overlap: a few channels then
        // differ by 2 (at 1.5, where both lie within 0.1/255 of a half).
        for (double scale : {1.5, 2.0}) {
          const Difference d = difference(*scene.render(scale), *drawnDirectly(picture, scale));
          EXPECT_LE(d.largest, 2) << "at scale " << scale;
          EXPECT_LE(d.beyondOne, 16) << "at scale " << scale;
        }
      };
      check("idle");
      scene.view->startFeedback();
      double now = 0;
      for (double t : moments) {
        scene.platform.advance(t - now);
        now = t;
        check("starting, t = " + std::to_string(t));
      }
      // A new size and a new state: nothing made for the old ones may show.
      const Size next = sizes[(s + 1) % std::size(sizes)];
      scene.view->setFrame({0, 0, next.width, next.height});
      check("starting, resized");
      scene.view->stopFeedback();
      check("idle again");
    }
  }
  // Another avatar in the same place: the kept button is not reused for it.
  const auto avatar = loadCairoImage(photo.path());
  MascotPainter painter;
  const CanvasImage* const images[] = {avatar.get(), nullptr};
  for (const CanvasImage* image : images) {
    const MascotPicture picture{{166, 50, 44, 44}, true, 0.4, image, {0, 0, 220, 144}};
    OffscreenCanvas kept(220, 144);
    painter.draw(kept.canvas(), picture);
    EXPECT_LE(largestDifference(kept, *drawnDirectly(picture)), 1) << (image ? "avatar" : "none");
  }
}

// What the glows and rings paint at any moment stays inside startingEffectsBounds, and reaches
// close to each of its sides at some moment: a frame that redraws only that square misses nothing
// and redraws little more than it must. The moments run through the feedback and take in each
// ring's last instant before it starts over (at its largest) and the glows at their fullest.
TEST(MascotRenderTest, StartingEffectsStayWithinTheirBoundsAndFillThem) {
  std::vector<double> moments = {0, 0.4, 1.85 - 1e-6, 0.55 + 2.1 - 1e-6, 1.05 + 1.55 - 1e-6, 2.8};
  for (double t = 0; t < 3; t += 1.0 / 30) moments.push_back(t);
  const Point center{150.25, 149.5};  // off the pixel grid in x
  const Rect bounds = startingEffectsBounds(center);
  // In the picture's pixels (rows down from the top of the 300-point view).
  const int x0 = int(std::floor(bounds.minX())), x1 = int(std::ceil(bounds.maxX()));
  const int y0 = int(std::floor(300 - bounds.maxY())), y1 = int(std::ceil(300 - bounds.minY()));
  int reach[4] = {1000, 1000, 1000, 1000};  // painted pixels' closest approach to each side
  OffscreenCanvas picture(300, 300);
  for (double t : moments) {
    SCOPED_TRACE(testing::Message() << "t = " << t);
    picture.clear();
    drawStartingEffects(picture.canvas(), center, t);
    cairo_surface_flush(picture.surface());
    const unsigned char* data = cairo_image_surface_get_data(picture.surface());
    const int stride = cairo_image_surface_get_stride(picture.surface());
    int outside = 0;
    for (int y = 0; y < 300; ++y) {
      for (int x = 0; x < 300; ++x) {
        std::uint32_t p;
        std::memcpy(&p, data + y * stride + 4 * x, 4);
        if (p == 0) continue;
        if (x < x0 || x >= x1 || y < y0 || y >= y1) {
          ++outside;
          continue;
        }
        reach[0] = std::min(reach[0], x - x0), reach[1] = std::min(reach[1], x1 - 1 - x);
        reach[2] = std::min(reach[2], y - y0), reach[3] = std::min(reach[3], y1 - 1 - y);
      }
    }
    EXPECT_EQ(outside, 0) << "pixels painted outside the bounds";
  }
  for (int side : reach) EXPECT_LE(side, 2);
}

}  // namespace
}  // namespace perch
