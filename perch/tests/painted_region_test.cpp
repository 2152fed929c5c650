#include "painted_region.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace perch {
namespace {

struct Picture {
  int width, height, stride;
  std::vector<std::uint8_t> bytes;
  Picture(int w, int h) : width(w), height(h), stride(w * 4 + 8), bytes(stride * h, 0) {}
  void set(int x, int y, std::uint32_t argb) { std::memcpy(&bytes[y * stride + 4 * x], &argb, 4); }
  std::uint32_t at(int x, int y) const {
    std::uint32_t p;
    std::memcpy(&p, &bytes[y * stride + 4 * x], 4);
    return p;
  }
};

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

}  // namespace
}  // namespace perch
