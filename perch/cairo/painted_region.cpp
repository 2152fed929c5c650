#include "painted_region.h"

#include <algorithm>
#include <cstdint>
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

// Four pixels at once, in the compiler's generic vectors (SSE2, NEON, or plain code elsewhere).
using Floats = float __attribute__((vector_size(16)));
using Ints = std::int32_t __attribute__((vector_size(16)));
using Words = std::uint32_t __attribute__((vector_size(16)));

// Flattens four pixels by the rule, without branches or look-ups. The division is exact: the
// numerator stays below 2^16, so single precision rounds no quotient across a whole number, and
// the truncation is the rounded division's floor.
inline void flattenFour(std::uint8_t* at, std::int32_t threshold) {
  Words p;
  std::memcpy(&p, at, sizeof p);
  const Ints a = __builtin_convertvector(p >> 24, Ints);
  const Ints none = a < 1;  // all ones where the pixel is clear
  const Floats divisor = __builtin_convertvector((a & ~none) | (1 & none), Floats);
  const Floats half = __builtin_convertvector(a >> 1, Floats);
  auto channel = [&](int shift) {
    const Floats c =
        __builtin_convertvector(__builtin_convertvector((p >> shift) & 0xff, Ints), Floats);
    const Ints q = __builtin_convertvector((c * 255 + half) / divisor, Ints);
    const Ints over = q > 255;
    return __builtin_convertvector((q & ~over) | (255 & over), Words) << shift;
  };
  const Words flat = 0xff000000u | channel(16) | channel(8) | channel(0);
  // Opaque pixels come out as they were; faint ones (and clear ones) clear.
  p = flat & __builtin_convertvector(a >= threshold, Words);
  std::memcpy(at, &p, sizeof p);
}

// The painted runs of each row, bands of equal rows merged, after `prepare` has made the row
// what is to be scanned.
template <class Byte, class Prepare>
std::vector<PixelRect> findPainted(Byte* pixels, int stride, int width, int height,
                                   std::uint8_t minAlpha, Prepare prepare) {
  std::vector<PixelRect> rects;
  if (minAlpha == 0) {  // every pixel counts
    for (int y = 0; y < height; ++y) prepare(pixels + static_cast<std::ptrdiff_t>(y) * stride);
    if (width > 0 && height > 0) rects.push_back({0, 0, width, height});
    return rects;
  }
  std::vector<PixelRect> previousRow;  // runs of the band above, still open
  std::vector<PixelRect> runs;
  for (int y = 0; y < height; ++y) {
    Byte* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    prepare(row);
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

// Flattens one row of `width` pixels by the rule.
void flattenRow(std::uint8_t* row, int width, std::uint8_t minAlpha) {
  const std::int32_t threshold = std::max<std::int32_t>(minAlpha, 1);
  // Four clear or four opaque pixels stay as they are; four too faint to keep (the union of
  // their alphas, at least the largest, below the threshold) are cleared; any others go by the
  // rule together.
  auto four = [&](std::uint8_t* at) {
    // Read as two pairs, straight from the row.
    std::uint64_t front, back;
    std::memcpy(&front, at, 8);
    std::memcpy(&back, at + 8, 8);
    const std::uint64_t either = front | back, both = front & back;
    if (either == 0 || static_cast<std::uint32_t>(both & both >> 32) >= 0xff000000u) return;
    if (static_cast<std::int32_t>(static_cast<std::uint32_t>(either | either >> 32) >> 24) <
        threshold) {
      std::memset(at, 0, 16);
      return;
    }
    flattenFour(at, threshold);
  };
  int x = 0;
  for (; x + 4 <= width; x += 4) four(row + 4 * x);
  if (x < width) {
    // The last few through a copy padded with clear pixels.
    std::uint8_t last[16] = {};
    std::memcpy(last, row + 4 * x, 4 * (width - x));
    four(last);
    std::memcpy(row + 4 * x, last, 4 * (width - x));
  }
}

}  // namespace

std::vector<PixelRect> paintedRegion(const std::uint8_t* pixels, int stride, int width, int height,
                                     std::uint8_t minAlpha) {
  return findPainted(pixels, stride, width, height, minAlpha, [](const std::uint8_t*) {});
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
  for (int y = 0; y < height; ++y) {
    flattenRow(pixels + static_cast<std::ptrdiff_t>(y) * stride, width, minAlpha);
  }
}

std::vector<PixelRect> flattenAndFindPainted(std::uint8_t* pixels, int stride,
                                             const PixelRect& area, std::uint8_t minAlpha) {
  if (area.width <= 0 || area.height <= 0) return {};
  std::uint8_t* origin = pixels + static_cast<std::ptrdiff_t>(area.y) * stride + 4 * area.x;
  // Each row is scanned as soon as it is flattened, while it is at hand.
  std::vector<PixelRect> rects =
      findPainted(origin, stride, area.width, area.height, minAlpha,
                  [&](std::uint8_t* row) { flattenRow(row, area.width, minAlpha); });
  for (PixelRect& r : rects) {
    r.x += area.x;
    r.y += area.y;
  }
  return rects;
}

}  // namespace perch
