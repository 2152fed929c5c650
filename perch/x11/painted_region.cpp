#include "painted_region.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace perch {
namespace {

std::uint32_t pixelAt(const std::uint8_t* row, int x) {
  std::uint32_t p;
  std::memcpy(&p, row + 4 * x, 4);
  return p;
}

std::uint64_t pairAt(const std::uint8_t* row, int x) {
  std::uint64_t p;
  std::memcpy(&p, row + 4 * x, 8);
  return p;
}

// Both alpha bytes of two neighbouring pixels, whichever way the machine orders the words.
constexpr std::uint64_t kPairAlpha = 0xff000000ff000000ull;

// The first pixel at or after `x` whose alpha is at least `minAlpha` (at least 1), or `width`.
// Most of a picture is clear or opaque: those go two pixels at a time.
int nextPainted(const std::uint8_t* row, int x, int width, std::uint8_t minAlpha) {
  while (x + 1 < width && pairAt(row, x) == 0) x += 2;
  while (x < width && (pixelAt(row, x) >> 24) < minAlpha) {
    ++x;
    while (x + 1 < width && pairAt(row, x) == 0) x += 2;
  }
  return x;
}

// Whether both pixels of a pair have an alpha of at least `minAlpha`.
bool pairPainted(std::uint64_t pair, std::uint8_t minAlpha) {
  return ((pair >> 24) & 0xff) >= minAlpha && (pair >> 56) >= minAlpha;
}

int nextUnpainted(const std::uint8_t* row, int x, int width, std::uint8_t minAlpha) {
  while (x + 1 < width && pairPainted(pairAt(row, x), minAlpha)) x += 2;
  if (x < width && (pixelAt(row, x) >> 24) >= minAlpha) ++x;  // the pair's first pixel only
  return x;
}

// n / a for every n below 2^16 as (n * kInverseAlpha[a]) >> 40: the error of the rounded-up
// inverse stays below 2^-24, less than any fraction 1/a leaves short of the next whole number.
constexpr auto kInverseAlpha = [] {
  std::array<std::uint64_t, 256> inverse{};
  for (std::uint64_t a = 1; a < 256; ++a) inverse[a] = (std::uint64_t{1} << 40) / a + 1;
  return inverse;
}();

// Each channel `c` of a pixel with alpha `a`, un-premultiplied and rounded to the nearest:
// table[a][c] = (c * 255 + a / 2) / a, at most 255. Looked up, three to a pixel. Filled at the
// first use: clang will not take its 65,536 steps as a constant expression.
using Unpremultiplied = std::array<std::array<std::uint8_t, 256>, 256>;
const Unpremultiplied& unpremultiplied() {
  static const Unpremultiplied table = [] {
    Unpremultiplied t{};
    for (std::uint64_t a = 1; a < 256; ++a) {
      for (std::uint64_t c = 0; c < 256; ++c) {
        t[a][c] = static_cast<std::uint8_t>(
            std::min<std::uint64_t>(255, ((c * 255 + a / 2) * kInverseAlpha[a]) >> 40));
      }
    }
    return t;
  }();
  return table;
}

}  // namespace

std::vector<PixelRect> paintedRegion(const std::uint8_t* pixels, int stride, int width, int height,
                                     std::uint8_t minAlpha) {
  std::vector<PixelRect> rects;
  if (minAlpha == 0) {  // every pixel counts
    if (width > 0 && height > 0) rects.push_back({0, 0, width, height});
    return rects;
  }
  std::vector<PixelRect> previousRow;  // runs of the band above, still open
  std::vector<PixelRect> runs;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    runs.clear();
    for (int x = nextPainted(row, 0, width, minAlpha); x < width;) {
      const int end = nextUnpainted(row, x, width, minAlpha);
      runs.push_back({x, y, end - x, 1});
      x = nextPainted(row, end, width, minAlpha);
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
      std::swap(previousRow, runs);
    }
  }
  rects.insert(rects.end(), previousRow.begin(), previousRow.end());
  return rects;
}

std::vector<PixelRect> paintedRegion(const std::uint8_t* pixels, int stride, const PixelRect& area,
                                     std::uint8_t minAlpha) {
  if (area.width <= 0 || area.height <= 0) return {};
  const std::uint8_t* origin = pixels + static_cast<std::ptrdiff_t>(area.y) * stride + 4 * area.x;
  std::vector<PixelRect> rects = paintedRegion(origin, stride, area.width, area.height, minAlpha);
  for (PixelRect& r : rects) {
    r.x += area.x;
    r.y += area.y;
  }
  return rects;
}

void flattenForShapedWindow(std::uint8_t* pixels, int stride, int width, int height,
                            std::uint8_t minAlpha) {
  // One pixel by the rule: opaque ones and clear ones that hold nothing stay as they are.
  const Unpremultiplied& table = unpremultiplied();
  auto flatten = [minAlpha, &table](std::uint8_t* at) {
    std::uint32_t p;
    std::memcpy(&p, at, 4);
    const std::uint32_t a = p >> 24;
    if (a == 255 || p == 0) return;
    if (a < minAlpha || a == 0) {
      p = 0;
    } else {
      const auto& channel = table[a];
      p = 0xff000000u | std::uint32_t{channel[(p >> 16) & 0xff]} << 16 |
          std::uint32_t{channel[(p >> 8) & 0xff]} << 8 | channel[p & 0xff];
    }
    std::memcpy(at, &p, 4);
  };
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    // Two at a time: a pair both clear or both opaque is skipped at once, any other goes pixel
    // by pixel.
    int x = 0;
    for (; x + 1 < width; x += 2) {
      const std::uint64_t pair = pairAt(row, x);
      if (pair == 0 || (pair & kPairAlpha) == kPairAlpha) continue;
      flatten(row + 4 * x);
      flatten(row + 4 * x + 4);
    }
    if (x < width) flatten(row + 4 * x);
  }
}

}  // namespace perch
