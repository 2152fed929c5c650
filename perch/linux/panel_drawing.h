// What perch draws its window's pictures with, behind a seam that no drawing header crosses: the
// cairo and pango stack lives in a library of its own (perch-drawing.so, its side in
// perch/cairo/cairo_panel_drawing.cpp), which drawing_library.cpp opens after start-up, so that
// perch maps only Xlib and GLib before it is ready. The library returns finished pixels; every
// request to the window is perch's own. No X header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "canvas.h"
#include "geometry.h"

namespace perch {

// Premultiplied ARGB32 words (alpha in the top byte), `stride` bytes a row.
struct FramePixels {
  std::uint8_t* data = nullptr;
  int stride = 0, width = 0, height = 0;
  bool operator==(const FramePixels&) const = default;
};

// Where the picture lies in the panel, and how the window shows it.
struct FrameLayout {
  double offsetX = 0, offsetY = 0;  // the picture's top-left pixel: right of, below the panel's
  double panelHeight = 1;           // the whole panel's, in pixels
  // No compositor: the picture is flattened (what is at least half covered is made opaque, the
  // rest cleared) and the window is cut to it. Otherwise it stays translucent.
  bool shaped = false;
  double scale = 1;  // pixels a point takes
  bool operator==(const FrameLayout&) const = default;
};

// How a window's pixels are laid out when they are not the picture's own words: true colour,
// `bitsPerPixel` bits a pixel (8, 16, 24 or 32), each channel in its mask's bits.
struct PixelFormat {
  int bitsPerPixel = 32;
  unsigned long redMask = 0, greenMask = 0, blueMask = 0;
};

class PanelDrawing {
 public:
  using Draw = std::function<void(Canvas&)>;

  virtual ~PanelDrawing() = default;

  // Draws the next frame into `pixels` with `draw` and returns the pixels it changed; see
  // FrameComposer::compose.
  virtual std::optional<PixelRect> compose(const FramePixels& pixels, const FrameLayout& layout,
                                           std::optional<Rect> changed, const Draw& draw) = 0;
  // The pixels the window keeps of the last frame.
  virtual const std::vector<PixelRect>& painted() const = 0;
  // The pixels no longer hold the last frame: the next one is drawn whole.
  virtual void forget() = 0;

  // Writes `area` of `pixels` to `out` in `format`, as this machine's words: the area's top-left
  // pixel first, rows `outStride` bytes apart. False, writing nothing, when `format` is none the
  // drawing writes (channels that are not packed from the lowest bit upwards).
  virtual bool convert(const FramePixels& pixels, const PixelRect& area, const PixelFormat& format,
                       std::uint8_t* out, int outStride) = 0;

  // An image file for the canvas (the avatar), or nothing when it cannot be read.
  virtual std::unique_ptr<CanvasImage> loadImage(const std::string& path) = 0;
};

// The one function the drawing library exports, by this name: a new drawing, owned by the caller.
// The name carries the interface's version, so that a library from another build is refused.
#define PERCH_PANEL_DRAWING_ENTRY perch_panel_drawing_new_1
extern "C" PanelDrawing* PERCH_PANEL_DRAWING_ENTRY();

}  // namespace perch
