// What the X11 backend draws its window's pictures with, behind a seam that no drawing header
// crosses: the cairo and pango stack lives in a library of its own (perch-drawing.so, its side in
// cairo_panel_drawing.cpp), which drawing_library.cpp opens after start-up, so that perch maps only
// Xlib and GLib before it is ready. No X header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "canvas.h"
#include "geometry.h"
#include "painted_region.h"

typedef struct _XDisplay Display;

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

// A window the picture goes to by conversion: its pixels are not the picture's own words.
struct ConvertedWindow {
  Display* display = nullptr;
  unsigned long window = 0;
  void* visual = nullptr;
  int depth = 0;
  int width = 0, height = 0;
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

  // Sends `area` of `pixels` to `window`, converted to its visual. `window.width` and `height`
  // are the window's size now.
  virtual void putConverted(const ConvertedWindow& window, const FramePixels& pixels,
                            const PixelRect& area) = 0;
  // The window `putConverted` draws to goes away (the display is about to close).
  virtual void releaseWindow() = 0;

  // An image file for the canvas (the avatar), or nothing when it cannot be read.
  virtual std::unique_ptr<CanvasImage> loadImage(const std::string& path) = 0;
};

// The one function the drawing library exports, by this name: a new drawing, owned by the caller.
// The name carries the interface's version, so that a library from another build is refused.
#define PERCH_PANEL_DRAWING_ENTRY perch_panel_drawing_new_1
extern "C" PanelDrawing* PERCH_PANEL_DRAWING_ENTRY();

}  // namespace perch
