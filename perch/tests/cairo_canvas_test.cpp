// The cairo canvas on an offscreen surface, by pixel: y up, gradients, clips, text placement and
// orientation, and images read from files.
#include "cairo_canvas.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "cairo_image.h"
#include "offscreen_canvas.h"

namespace perch {
namespace {

namespace fs = std::filesystem;

constexpr Color red{1, 0, 0, 1};
constexpr Color blue{0, 0, 1, 1};

// A directory of its own under the system's temporary directory, removed at the end.
class TempDir {
 public:
  TempDir() {
    static int serial = 0;
    path_ = fs::temp_directory_path() /
            ("perch_canvas_test_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    fs::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

// A pixbuf `width` x `height`, its top half `top` and its bottom half `bottom` (RGB bytes).
GdkPixbuf* twoToneImage(int width, int height, const guint8 top[3], const guint8 bottom[3]) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const guint8* c = y < height / 2 ? top : bottom;
      std::copy(c, c + 3, pixels + y * stride + x * 3);
    }
  }
  return pixbuf;
}

bool save(GdkPixbuf* pixbuf, const std::string& path, const char* type) {
  GError* error = nullptr;
  const bool saved = gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, nullptr);
  g_clear_error(&error);
  return saved;
}

bool hasLoader(const char* name) {
  GSList* formats = gdk_pixbuf_get_formats();
  bool found = false;
  for (GSList* f = formats; f != nullptr; f = f->next) {
    gchar* formatName = gdk_pixbuf_format_get_name(static_cast<GdkPixbufFormat*>(f->data));
    found |= std::string(formatName) == name;
    g_free(formatName);
  }
  g_slist_free(formats);
  return found;
}

bool near(const Color& a, const Color& b, double tolerance = 0.03) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance && std::abs(a.alpha - b.alpha) <= tolerance;
}

// The smallest rectangle (view coordinates, whole pixels) holding every pixel with some ink.
Rect inkBounds(OffscreenCanvas& picture) {
  double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      if (picture.pixelAt(x + 0.5, y + 0.5).alpha > 0.1) {
        x0 = std::min<double>(x0, x), x1 = std::max<double>(x1, x + 1);
        y0 = std::min<double>(y0, y), y1 = std::max<double>(y1, y + 1);
      }
    }
  }
  return x1 < x0 ? Rect{} : Rect{x0, y0, x1 - x0, y1 - y0};
}

TEST(CairoCanvasTest, ShapesAreGivenWithYUp) {
  OffscreenCanvas picture(64, 64);
  picture.canvas().fillRect({10, 4, 20, 6}, red);
  EXPECT_TRUE(near(picture.pixelAt(15, 6), red)) << "near the bottom edge";
  EXPECT_EQ(picture.pixelAt(15, 58).alpha, 0) << "not mirrored to the top";
  EXPECT_EQ(picture.pixelAt(5, 6).alpha, 0);
}

TEST(CairoCanvasTest, ClipLastsUntilRestore) {
  OffscreenCanvas picture(64, 64);
  Canvas& canvas = picture.canvas();
  canvas.save();
  canvas.clip(Path::oval({0, 0, 32, 32}));
  canvas.fillRect({0, 0, 64, 64}, red);
  canvas.restore();
  canvas.fillRect({48, 48, 8, 8}, blue);
  EXPECT_TRUE(near(picture.pixelAt(16, 16), red));
  EXPECT_EQ(picture.pixelAt(1, 1).alpha, 0) << "outside the oval, inside its square";
  EXPECT_EQ(picture.pixelAt(40, 16).alpha, 0);
  EXPECT_TRUE(near(picture.pixelAt(52, 52), blue)) << "the clip ended with restore";
}

TEST(CairoCanvasTest, RadialGradientEndsOnTheCircleAroundThePathBounds) {
  // Centre colour at the centre of the bounds, the edge colour at half their diagonal (70.7 for
  // a 100 square), so an oval's edge is reached at about 71% of the way: alpha 0.29 there.
  OffscreenCanvas picture(120, 120);
  picture.canvas().fillRadialGradient(Path::oval({10, 10, 100, 100}), {1, 0, 0, 1}, {1, 0, 0, 0});
  auto alphaAt = [&](double distance) { return picture.pixelAt(60.5 + distance, 60.5).alpha; };
  EXPECT_NEAR(alphaAt(0), 1.0, 0.02);
  EXPECT_NEAR(alphaAt(35), 1 - 35.5 / 70.71, 0.02);
  EXPECT_NEAR(alphaAt(48), 1 - 48.5 / 70.71, 0.02);
  EXPECT_EQ(alphaAt(51), 0) << "clipped to the oval";
  EXPECT_NEAR(picture.pixelAt(60.5, 60.5).red, 1.0, 0.02);
}

// How much of the pixel [px, px + 1) x [py, py + 1) the disc of radius r about (cx, cy) covers:
// the disc's height over each of 512 thin slices of the pixel.
double discCoverage(double px, double py, double cx, double cy, double r) {
  constexpr int slices = 512;
  double area = 0;
  for (int i = 0; i < slices; ++i) {
    const double x = px + (i + 0.5) / slices - cx;
    if (std::abs(x) >= r) continue;
    const double h = std::sqrt(r * r - x * x);
    area += std::max(0.0, std::min(py + 1, cy + h) - std::max(py, cy - h));
  }
  return area / slices;
}

TEST(CairoCanvasTest, StrokesAndBlendsCoverTheTrueCircle) {
  // Every pixel's alpha against the exact area of the ring (a stroke) or disc (a one-colour
  // blend) it covers, in a canvas scaled by `scale` and turned by `turn` degrees. Circles 8 pixels
  // or more across their inner edge are covered from each pixel's distance to the centre: within
  // 2 steps of 1/255. Smaller ones go to FreeType's rasteriser, whose flattened curves stray a few
  // steps more; only a turn leaves them to cairo's own stroker and filler, which strays up to ten
  // times as far.
  struct Case {
    double radius, width, cx, cy, scale, turn;
    int tolerance;
  };
  const Case cases[] = {
      {22, 2.5, 40, 40, 1, 0, 2},    {22, 0.8, 40.3, 39.8, 1, 0, 2}, {29.7, 1.3, 40.5, 40, 1, 0, 2},
      {11, 1.25, 20.2, 20, 2, 0, 2}, {22, 0, 40, 40, 1, 0, 2},       {5, 1, 40.2, 39.7, 1, 0, 6},
      {22, 2.5, 40, 40, 1, 30, 40},
  };
  for (bool stroke : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << (stroke ? "stroke" : "blend") << " r " << c.radius << " w " << c.width
                   << " at " << c.cx << ", " << c.cy << " x" << c.scale << " turned " << c.turn);
      constexpr int size = 80;
      cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
      cairo_t* cr = cairo_create(surface);
      // The turn is about the circle's centre, so the circle stays where it was.
      cairo_translate(cr, c.cx * c.scale, c.cy * c.scale);
      cairo_rotate(cr, c.turn * M_PI / 180);
      cairo_translate(cr, -c.cx * c.scale, -c.cy * c.scale);
      cairo_scale(cr, c.scale, c.scale);
      {
        CairoCanvas canvas(cr, size / c.scale);
        const Rect square{c.cx - c.radius, c.cy - c.radius, 2 * c.radius, 2 * c.radius};
        if (stroke) {
          canvas.strokePath(Path::oval(square), {0, 0, 0, 1}, c.width);
        } else {
          canvas.fillRadialGradient(Path::oval(square), {0, 0, 0, 1}, {0, 0, 0, 1});
        }
      }
      cairo_destroy(cr);
      cairo_surface_flush(surface);
      const unsigned char* data = cairo_image_surface_get_data(surface);
      const int stride = cairo_image_surface_get_stride(surface);
      // Device space: y down from the top, the circle's centre at (cx, size - cy) times the scale.
      const double cx = c.cx * c.scale, cy = size - c.cy * c.scale, r = c.radius * c.scale;
      const double half = stroke ? c.width * c.scale / 2 : r;
      int worst = 0;
      for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
          const double outer = discCoverage(x, y, cx, cy, stroke ? r + half : r);
          const double inner = stroke ? discCoverage(x, y, cx, cy, std::max(0.0, r - half)) : 0;
          const int expected = static_cast<int>(std::lround((outer - inner) * 255));
          const int alpha = data[static_cast<size_t>(y) * stride + x * 4 + 3];
          worst = std::max(worst, std::abs(alpha - expected));
        }
      }
      EXPECT_LE(worst, c.tolerance);
      cairo_surface_destroy(surface);
    }
  }
}

TEST(CairoCanvasTest, ClipsCutStrokesAndBlendsToTheirShape) {
  // Drawn under a clip, the ring and the blend leave everything outside it untouched and
  // everything inside as they draw it without one: a clip made through the canvas, or one the
  // context already had when the canvas was made (on whole pixels or not).
  struct Case {
    Path clip;
    bool onContext;
  };
  const Case cases[] = {
      {Path::rect({10, 0, 30, 64}), false},
      {Path::oval({4, 8, 40, 40}), false},
      {Path::rect({10, 0, 30, 64}), true},
      {Path::rect({10.5, 3.25, 30, 50}), true},
  };
  for (const Case& c : cases) {
    for (bool stroke : {true, false}) {
      SCOPED_TRACE(testing::Message() << "clip " << c.clip.bounds().minX() << " on context "
                                      << c.onContext << (stroke ? " stroke" : " blend"));
      auto draw = [&](Canvas& canvas) {
        const Path circle = Path::oval({8, 12, 40, 40});
        if (stroke) {
          canvas.strokePath(circle, {0.5, 0.4, 1, 0.9}, 3);
        } else {
          canvas.fillRadialGradient(circle, {0.6, 0.5, 1, 0.8}, {0.4, 0.4, 1, 0});
        }
      };
      OffscreenCanvas whole(64, 64), clipped(64, 64), shape(64, 64);
      draw(whole.canvas());
      if (c.onContext) {
        cairo_t* cr = cairo_create(clipped.surface());
        const Rect r = c.clip.bounds();  // a rectangle, y up from the bottom
        cairo_rectangle(cr, r.minX(), 64 - r.maxY(), r.width, r.height);
        cairo_clip(cr);
        {
          CairoCanvas canvas(cr, 64);
          draw(canvas);
        }
        cairo_destroy(cr);
      } else {
        clipped.canvas().save();
        clipped.canvas().clip(c.clip);
        draw(clipped.canvas());
        clipped.canvas().restore();
      }
      shape.canvas().fillPath(c.clip, {0, 0, 0, 1});
      for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
          const double inside = shape.pixelAt(x + 0.5, y + 0.5).alpha;
          const Color got = clipped.pixelAt(x + 0.5, y + 0.5);
          if (inside == 0) {
            ASSERT_EQ(got.alpha, 0) << x << ", " << y;
          } else if (inside == 1) {
            ASSERT_TRUE(near(got, whole.pixelAt(x + 0.5, y + 0.5), 0.01)) << x << ", " << y;
          } else {  // the clip's edge lets part through
            ASSERT_NEAR(got.alpha, inside * whole.pixelAt(x + 0.5, y + 0.5).alpha, 0.02)
                << x << ", " << y;
          }
        }
      }
    }
  }
}

TEST(CairoCanvasTest, TextStandsUprightInsideItsLineBox) {
  OffscreenCanvas picture(120, 80);
  Canvas& canvas = picture.canvas();
  const Font font{40, FontWeight::bold};
  const Size box = canvas.measureText("T", font);
  ASSERT_GT(box.width, 10);
  ASSERT_GT(box.height, 40) << "the line box holds ascent and descent";
  canvas.drawText("T", font, {0, 0, 0, 1}, {20, 10});

  const Rect ink = inkBounds(picture);
  ASSERT_FALSE(ink.isEmpty());
  EXPECT_GE(ink.minX(), 20 - 1);
  EXPECT_LE(ink.maxX(), 20 + box.width + 1);
  EXPECT_GE(ink.minY(), 10 - 1) << "nothing below the line box's lower edge";
  EXPECT_LE(ink.maxY(), 10 + box.height + 1);
  EXPECT_GT(ink.minY(), 10 + 4) << "a capital sits on the baseline, above the descent";

  // The T's bar is at the top: its upper quarter holds far more ink than its lower quarter.
  auto inkIn = [&](double y0, double y1) {
    int count = 0;
    for (int y = static_cast<int>(y0); y < y1; ++y) {
      for (int x = 0; x < picture.width(); ++x)
        count += picture.pixelAt(x + 0.5, y + 0.5).alpha > 0.5;
    }
    return count;
  };
  const double quarter = ink.height / 4;
  EXPECT_GT(inkIn(ink.maxY() - quarter, ink.maxY()), 2 * inkIn(ink.minY(), ink.minY() + quarter));
}

TEST(CairoCanvasTest, TextIsMeasuredWithoutRounding) {
  OffscreenCanvas picture(8, 8);
  const Size label = picture.canvas().measureText("I'm listening", {13, FontWeight::semibold});
  EXPECT_GT(label.width, 60);
  EXPECT_LT(label.width, 130);
  EXPECT_GT(label.height, 13);
  EXPECT_LT(label.height, 22);
  const Size longer = picture.canvas().measureText("I'm listening!", {13, FontWeight::semibold});
  EXPECT_GT(longer.width, label.width);
  const Size bolder = picture.canvas().measureText("I'm listening", {13, FontWeight::regular});
  EXPECT_NE(bolder.width, label.width) << "the weight reaches the font";
}

TEST(CairoCanvasTest, ImagesAreDrawnUprightIntoTheirRectangle) {
  TempDir dir;
  const guint8 top[3] = {255, 0, 0}, bottom[3] = {0, 0, 255};
  GdkPixbuf* pixbuf = twoToneImage(20, 10, top, bottom);
  ASSERT_TRUE(save(pixbuf, dir.file("two-tone.png"), "png"));
  g_object_unref(pixbuf);
  auto image = loadCairoImage(dir.file("two-tone.png"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), (Size{20, 10}));

  OffscreenCanvas picture(64, 64);
  picture.canvas().drawImage(*image, {10, 10, 40, 20});
  EXPECT_TRUE(near(picture.pixelAt(30, 26), red)) << "the image's top at the rectangle's top";
  EXPECT_TRUE(near(picture.pixelAt(30, 14), blue));
  EXPECT_TRUE(near(picture.pixelAt(10.5, 10.5), blue)) << "crisp up to the corner";
  EXPECT_EQ(picture.pixelAt(9.5, 20).alpha, 0);
  EXPECT_EQ(picture.pixelAt(30, 30.5).alpha, 0);
}

TEST(CairoCanvasTest, LoadingReadsCommonFormatsAndRefusesTheRest) {
  TempDir dir;
  const guint8 top[3] = {200, 40, 40}, bottom[3] = {40, 40, 200};
  GdkPixbuf* pixbuf = twoToneImage(30, 20, top, bottom);
  for (const char* type : {"png", "jpeg", "bmp", "tiff"}) {
    SCOPED_TRACE(type);
    const std::string path = dir.file(std::string("avatar.") + type);
    ASSERT_TRUE(save(pixbuf, path, type));
    auto image = loadCairoImage(path);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), (Size{30, 20}));
  }
  g_object_unref(pixbuf);

  if (hasLoader("svg")) {
    std::ofstream(dir.file("avatar.svg"))
        << "<svg xmlns='http://www.w3.org/2000/svg' width='48' height='32'>"
           "<rect width='48' height='32' fill='#6b57e6'/></svg>";
    auto image = loadCairoImage(dir.file("avatar.svg"));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->size(), (Size{48, 32}));
  }

  std::ofstream(dir.file("notes.txt")) << "not an image\n";
  EXPECT_EQ(loadCairoImage(dir.file("notes.txt")), nullptr);
  std::ofstream(dir.file("empty.png")).flush();
  EXPECT_EQ(loadCairoImage(dir.file("empty.png")), nullptr);
  EXPECT_EQ(loadCairoImage(dir.file("missing.png")), nullptr);
  fs::create_directories(dir.file("folder.png"));
  EXPECT_EQ(loadCairoImage(dir.file("folder.png")), nullptr);
}

TEST(CairoCanvasTest, LargeImagesKeepTheirSizeButNotTheirRaster) {
  TempDir dir;
  const guint8 top[3] = {255, 0, 0}, bottom[3] = {0, 0, 255};
  GdkPixbuf* pixbuf = twoToneImage(1000, 600, top, bottom);
  ASSERT_TRUE(save(pixbuf, dir.file("large.png"), "png"));
  g_object_unref(pixbuf);
  auto image = loadCairoImage(dir.file("large.png"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->size(), (Size{1000, 600})) << "the layout sees the picture's own size";
  EXPECT_EQ(cairo_image_surface_get_height(image->raster()), 128);
  EXPECT_EQ(cairo_image_surface_get_width(image->raster()), 213);

  OffscreenCanvas picture(64, 64);
  picture.canvas().drawImage(*image, {0, 0, 50, 30});
  EXPECT_TRUE(near(picture.pixelAt(25, 25), red));
  EXPECT_TRUE(near(picture.pixelAt(25, 5), blue));
}

}  // namespace
}  // namespace perch
