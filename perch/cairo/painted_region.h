// Which pixels of a rendered picture are painted, as rectangles: one run of painted pixels per
// row, bands of equal rows merged. The X backend shapes the window to them. No X header.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry.h"

namespace perch {

// `pixels` is premultiplied ARGB32 (alpha in the top byte), `stride` bytes per row. A pixel counts
// as painted when its alpha is at least `minAlpha`.
std::vector<PixelRect> paintedRegion(const std::uint8_t* pixels, int stride, int width, int height,
                                     std::uint8_t minAlpha);

// The same for the part `area` of the picture (which must lie within it), as rectangles in the
// whole picture's coordinates.
std::vector<PixelRect> paintedRegion(const std::uint8_t* pixels, int stride, const PixelRect& area,
                                     std::uint8_t minAlpha);

// Makes every pixel at or above `minAlpha` opaque, undoing the premultiplication, and clears the
// rest: what a window without a compositor can show, since it has no alpha to blend with.
void flattenForShapedWindow(std::uint8_t* pixels, int stride, int width, int height,
                            std::uint8_t minAlpha);

// Flattens the part `area` of the picture (which must lie within it) as above, and returns the
// pixels it then paints at `minAlpha`, as paintedRegion() would, in one pass over the rows.
std::vector<PixelRect> flattenAndFindPainted(std::uint8_t* pixels, int stride,
                                             const PixelRect& area, std::uint8_t minAlpha);

}  // namespace perch
