#include "painted_region.h"

#include <algorithm>
#include <cstring>

namespace perch {
namespace {

std::uint32_t pixelAt(const std::uint8_t* row, int x) {
  std::uint32_t p;
  std::memcpy(&p, row + 4 * x, 4);
  return p;
}

}  // namespace

std::vector<PixelRect> paintedRegion(const std::uint8_t* pixels, int stride, int width, int height,
                                     std::uint8_t minAlpha) {
  std::vector<PixelRect> rects;
  std::vector<PixelRect> previousRow;  // runs of the band above, still open
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    std::vector<PixelRect> runs;
    for (int x = 0; x < width;) {
      if ((pixelAt(row, x) >> 24) < minAlpha) {
        ++x;
        continue;
      }
      const int start = x;
      while (x < width && (pixelAt(row, x) >> 24) >= minAlpha) ++x;
      runs.push_back({start, y, x - start, 1});
    }
    // Rows with the very same runs as the band above extend it.
    const bool sameRuns =
        runs.size() == previousRow.size() &&
        std::equal(runs.begin(), runs.end(), previousRow.begin(),
                   [](auto& a, auto& b) { return a.x == b.x && a.width == b.width; });
    if (sameRuns) {
      for (auto& open : previousRow) ++open.height;
    } else {
      rects.insert(rects.end(), previousRow.begin(), previousRow.end());
      previousRow = std::move(runs);
    }
  }
  rects.insert(rects.end(), previousRow.begin(), previousRow.end());
  return rects;
}

void flattenForShapedWindow(std::uint8_t* pixels, int stride, int width, int height,
                            std::uint8_t minAlpha) {
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < width; ++x) {
      std::uint32_t p = pixelAt(row, x);
      const std::uint32_t a = p >> 24;
      if (a < minAlpha || a == 0) {
        p = 0;
      } else if (a < 255) {
        auto channel = [&](int shift) {
          return std::min<std::uint32_t>(255, (((p >> shift) & 0xff) * 255 + a / 2) / a) << shift;
        };
        p = 0xff000000u | channel(16) | channel(8) | channel(0);
      }
      std::memcpy(row + 4 * x, &p, 4);
    }
  }
}

}  // namespace perch
