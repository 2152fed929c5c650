#include "painted_region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "pixel_rows.h"

namespace perch {
namespace {

using Picture = PixelRows;

TEST(PaintedRegionTest, RunsPerRowMergedIntoBandsOfEqualRows) {
  Picture p(8, 5);
  for (int y = 1; y <= 3; ++y) {
    for (int x = 2; x <= 4; ++x) p.set(x, y, 0xff000000);
    p.set(7, y, 0x80000000);
  }
  p.set(0, 4, 0x01000000);  // barely painted
  auto region = paintedRegion(p.bytes.data(), p.stride, p.width, p.height, 1);
  EXPECT_EQ(region, (std::vector<PixelRect>{{2, 1, 3, 3}, {7, 1, 1, 3}, {0, 4, 1, 1}}));
  // At half coverage the faint pixels drop out.
  region = paintedRegion(p.bytes.data(), p.stride, p.width, p.height, 128);
  EXPECT_EQ(region, (std::vector<PixelRect>{{2, 1, 3, 3}, {7, 1, 1, 3}}));
}

TEST(PaintedRegionTest, NothingPaintedIsAnEmptyRegion) {
  Picture p(4, 4);
  EXPECT_TRUE(paintedRegion(p.bytes.data(), p.stride, p.width, p.height, 1).empty());
}

TEST(PaintedRegionTest, FlatteningUndoesPremultiplicationAndClearsTheFaint) {
  Picture p(3, 1);
  p.set(0, 0, 0x80402010);  // half-covered: colours were halved
  p.set(1, 0, 0x7f7f7f7f);  // just under half: gone
  p.set(2, 0, 0xff123456);  // opaque: kept as is
  flattenForShapedWindow(p.bytes.data(), p.stride, p.width, p.height, 128);
  EXPECT_EQ(p.at(0, 0), 0xff804020u);
  EXPECT_EQ(p.at(1, 0), 0u);
  EXPECT_EQ(p.at(2, 0), 0xff123456u);
}

// Every alpha at or above the threshold with every channel value: each channel comes back as the
// nearest whole number to c * 255 / a (at most 255), the rest are cleared.
TEST(PaintedRegionTest, FlatteningRoundsEveryChannelOfEveryAlphaToTheNearest) {
  Picture p(256, 256);
  for (std::uint32_t a = 0; a < 256; ++a) {
    for (std::uint32_t c = 0; c < 256; ++c) p.set(c, a, a << 24 | c << 16 | (255 - c) << 8 | c / 2);
  }
  Picture flat = p;
  flattenForShapedWindow(flat.bytes.data(), flat.stride, flat.width, flat.height, 100);
  for (std::uint32_t a = 0; a < 256; ++a) {
    for (std::uint32_t c = 0; c < 256; ++c) {
      auto un = [a](std::uint32_t v) {
        return std::min<std::uint32_t>(255, (v * 255 + a / 2) / a);
      };
      const std::uint32_t want = a < 100 ? 0
                                 : a == 255
                                     ? p.at(c, a)
                                     : 0xff000000u | un(c) << 16 | un(255 - c) << 8 | un(c / 2);
      ASSERT_EQ(flat.at(c, a), want) << "alpha " << a << ", channel " << c;
    }
  }
}

// Pictures of mixed runs at odd and even offsets and widths: the region holds exactly the pixels
// at or above the threshold, and flattening touches each pixel as the rule for one pixel says.
TEST(PaintedRegionTest, MixedRunsAtEveryOffsetMatchThePerPixelRule) {
  const std::uint32_t kinds[] = {0, 0xff102030, 0x80402010, 0x7f7f7f7f, 0x01010101, 0x00000001};
  for (int width : {1, 2, 7, 8, 33}) {
    Picture p(width, 6);
    std::uint32_t seed = 12345u + width;
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < width; ++x) {
        seed = seed * 1103515245u + 12345u;
        // Runs of a few equal pixels, so that pairs of clear and opaque ones occur at both
        // parities.
        if (x == 0 || (seed >> 16) % 3 == 0)
          p.set(x, y, kinds[(seed >> 20) % 6]);
        else
          p.set(x, y, p.at(x - 1, y));
      }
    }
    for (std::uint8_t minAlpha : {1, 128, 255}) {
      std::vector<int> covered(width * p.height, 0);
      for (const PixelRect& r : paintedRegion(p.bytes.data(), p.stride, width, p.height, minAlpha))
        for (int y = r.y; y < r.y + r.height; ++y)
          for (int x = r.x; x < r.x + r.width; ++x) ++covered[y * width + x];
      for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < width; ++x)
          ASSERT_EQ(covered[y * width + x], (p.at(x, y) >> 24) >= minAlpha ? 1 : 0)
              << "width " << width << " min " << int(minAlpha) << " at " << x << "," << y;
    }
    Picture flat = p;
    flattenForShapedWindow(flat.bytes.data(), flat.stride, width, flat.height, 128);
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint32_t in = p.at(x, y), a = in >> 24;
        const std::uint32_t want = a < 128 ? 0 : a == 255 ? in : in == 0x80402010 ? 0xff804020 : 0;
        ASSERT_EQ(flat.at(x, y), want) << "width " << width << " at " << x << "," << y;
      }
    }
    // Flattened and scanned in one pass over a part: the pixels and the region of the two steps
    // one after the other, and nothing outside the part touched.
    const PixelRect part{width > 2 ? 1 : 0, 1, width > 2 ? width - 2 : width, 4};
    Picture once = p, twice = p;
    const auto region = flattenAndFindPainted(once.bytes.data(), once.stride, part, 128);
    flattenForShapedWindow(twice.bytes.data() + part.y * twice.stride + 4 * part.x, twice.stride,
                           part.width, part.height, 128);
    EXPECT_EQ(region, paintedRegion(twice.bytes.data(), twice.stride, part, 128)) << width;
    EXPECT_EQ(once.bytes, twice.bytes) << width;
  }
}

}  // namespace
}  // namespace perch
