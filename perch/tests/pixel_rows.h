// Pixels in rows with some bytes to spare at the end of each row, as an X image has them: what
// the tests of the painted region and of the frame composer draw into and read back.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace perch {

struct PixelRows {
  int width, height, stride;
  std::vector<std::uint8_t> bytes;
  // Every row ends in `padding` bytes; every byte starts as `fill`.
  PixelRows(int w, int h, int padding = 8, std::uint8_t fill = 0)
      : width(w),
        height(h),
        stride(w * 4 + padding),
        bytes(static_cast<size_t>(stride) * h, fill) {}
  void set(int x, int y, std::uint32_t argb) { std::memcpy(&bytes[y * stride + 4 * x], &argb, 4); }
  std::uint32_t at(int x, int y) const {
    std::uint32_t p;
    std::memcpy(&p, &bytes[y * stride + 4 * x], 4);
    return p;
  }
  // Only the picture's own pixels, not the padding at the end of each row.
  bool samePicture(const PixelRows& o) const {
    for (int y = 0; y < height; ++y) {
      if (std::memcmp(&bytes[y * stride], &o.bytes[y * o.stride], width * 4) != 0) return false;
    }
    return true;
  }
};

}  // namespace perch
