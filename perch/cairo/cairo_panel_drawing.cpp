// The drawing library's side of the seam: frames through the cairo canvas, conversion to a
// window's pixel format by pixman, images through gdk-pixbuf. Built as its own shared library;
// everything but the entry function stays hidden in it. No X header: the window is perch's.
#include <pixman.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <vector>

#include "cairo_image.h"
#include "frame_composer.h"
#include "panel_drawing.h"

namespace perch {
namespace {

// The pixman format whose channels are packed from the lowest bit (blue, green, red upwards, or
// red, green, blue) as `format` has them.
std::optional<pixman_format_code_t> packedFormat(const PixelFormat& format) {
  const unsigned long r = format.redMask, g = format.greenMask, b = format.blueMask;
  const int rBits = std::popcount(r), gBits = std::popcount(g), bBits = std::popcount(b);
  // Whether the mask's bits run unbroken upwards from bit `from`.
  auto packed = [](unsigned long mask, int from) {
    const int bits = std::popcount(mask);
    return bits > 0 && bits < 32 && mask == ((1ul << bits) - 1) << from;
  };
  int type = 0;
  if (packed(b, 0) && packed(g, bBits) && packed(r, bBits + gBits)) {
    type = PIXMAN_TYPE_ARGB;
  } else if (packed(r, 0) && packed(g, rBits) && packed(b, rBits + gBits)) {
    type = PIXMAN_TYPE_ABGR;
  } else {
    return std::nullopt;
  }
  const auto code = static_cast<pixman_format_code_t>(
      PIXMAN_FORMAT(format.bitsPerPixel, type, 0, rBits, gBits, bBits));
  if (rBits + gBits + bBits > format.bitsPerPixel || !pixman_format_supported_destination(code))
    return std::nullopt;
  return code;
}

class CairoPanelDrawing final : public PanelDrawing {
 public:
  std::optional<PixelRect> compose(const FramePixels& pixels, const FrameLayout& layout,
                                   std::optional<Rect> changed, const Draw& draw) override {
    return composer_.compose(pixels, layout, changed, draw);
  }
  const std::vector<PixelRect>& painted() const override { return composer_.painted(); }
  void forget() override { composer_.forget(); }

  bool convert(const FramePixels& pixels, const PixelRect& area, const PixelFormat& format,
               std::uint8_t* out, int outStride) override {
    const auto code = packedFormat(format);
    if (!code || outStride % 4 != 0) return false;
    pixman_image_t* source = pixman_image_create_bits_no_clear(
        PIXMAN_a8r8g8b8, pixels.width, pixels.height, reinterpret_cast<std::uint32_t*>(pixels.data),
        pixels.stride);
    pixman_image_t* target = pixman_image_create_bits_no_clear(
        *code, area.width, area.height, reinterpret_cast<std::uint32_t*>(out), outStride);
    const bool done = source != nullptr && target != nullptr;
    if (done) {
      pixman_image_composite32(PIXMAN_OP_SRC, source, nullptr, target, area.x, area.y, 0, 0, 0, 0,
                               area.width, area.height);
    }
    if (source != nullptr) pixman_image_unref(source);
    if (target != nullptr) pixman_image_unref(target);
    return done;
  }

  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override {
    return loadCairoImage(path);
  }

 private:
  FrameComposer composer_;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) PanelDrawing* PERCH_PANEL_DRAWING_ENTRY() {
  return new CairoPanelDrawing();
}

}  // namespace perch
