// The mascot's canvas on cairo: a y-up view of `height` points drawn onto a y-down cairo context.
// Filled shapes and clips are cairo's, text is pango's in the system UI font, images are
// CairoImage, layers are image surfaces. Strokes and radial blends, the shapes that move from frame
// to frame, are covered by a PathRaster and composited through that coverage: by pixman straight
// onto an image target's pixels, by cairo on any other target or under a clip that is not one
// rectangle of whole pixels. Radial blends are looked up on a ramp made for each blend, which costs
// a fraction of cairo's own radial pattern and gives the same pixels within a step of 1/255. Under
// a transformation other than a scale, cairo draws them alone.
#pragma once

#include <cairo.h>
#include <pixman.h>

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "canvas.h"
#include "path_raster.h"

typedef struct _PangoLayout PangoLayout;

namespace perch {

class CairoCanvas final : public Canvas {
 public:
  // How radial blends are filled: on the ramp, or by cairo's radial pattern (the reference that
  // the ramp is checked against).
  enum class Blend { ramp, pattern };

  // `raster` (kept by the caller, so that its buffers outlast one frame's canvas) covers the
  // strokes and blends; without one the canvas makes its own when it first needs it.
  CairoCanvas(cairo_t* cr, double height, Blend blend = Blend::ramp, PathRaster* raster = nullptr);
  ~CairoCanvas() override;

  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  void save() override;
  void restore() override;
  void clip(const Path& path) override;
  void fillPath(const Path& path, const Color& color) override;
  void strokePath(const Path& path, const Color& color, double lineWidth) override;
  void fillRadialGradient(const Path& path, const Color& center, const Color& edge) override;
  Size measureText(std::string_view text, const Font& font) override;
  void drawText(std::string_view text, const Font& font, const Color& color, Point origin) override;
  void drawImage(const CanvasImage& image, const Rect& rect) override;
  std::unique_ptr<CanvasLayer> makeLayer(const Rect& area,
                                         std::function<void(Canvas&)> paint) override;
  bool drawLayer(const CanvasLayer& layer) override;
  // Radial blends leave out what lies wholly inside the oval (a circle under a scale: otherwise
  // the hint is not taken).
  void setCoveredOval(const Rect& oval) override;

  // The pixels of the context's target that this canvas has drawn on so far, as a box of them
  // (x0 >= x1 when none): false when it cannot tell, having drawn something through cairo.
  bool changedPixels(PathRaster::Box& box) const;

 private:
  struct InUserSpace {};
  // Draws in the context's user space as it stands, without a flip of its own.
  CairoCanvas(cairo_t* cr, Blend blend, PathRaster* raster, InUserSpace);
  // The device pixels that `rect` (user space) touches, cut to the clip; false when none.
  bool devicePixels(const Rect& rect, int& x0, int& y0, int& x1, int& y1);

  // The canvas's user space in device pixels, for the path raster.
  struct Device {
    PathRaster::Transform transform;
    double scale = 1;      // device pixels per unit, the same along both axes
    PathRaster::Box clip;  // the device pixels the clip's extents touch
  };
  // False when the raster cannot draw here: a transformation other than a scale with flips.
  bool deviceSpace(Device& device);
  PathRaster& raster();
  // Composites the current source through the coverage, in device space.
  void paintThrough(const PathRaster::Coverage& coverage);
  // Composites `source` over the device pixels of `area` (within the clip) through `mask` (none:
  // nullptr), their pixels (0, 0) on the device pixels given, straight onto the target's pixels
  // with pixman, as cairo would but without its general path and bookkeeping. False, drawing
  // nothing, unless the target is an ARGB32 image offset by whole pixels and the clip is one
  // rectangle of whole pixels: the caller then goes through cairo.
  bool composite(pixman_image_t* source, int sourceX, int sourceY, pixman_image_t* mask, int maskX,
                 int maskY, const PathRaster::Box& area);
  // `source` through the coverage, as above.
  bool compositeThrough(pixman_image_t* source, int x, int y, const PathRaster::Coverage& coverage);
  // The blend through the path's coverage: looked up on the ramp (`ramp` mode), or cairo's radial
  // pattern (`pattern` mode). False: not drawn.
  bool fillRadialRaster(const Path& path, const Color& center, const Color& edge);
  void setPath(const Path& path);
  static void setPath(cairo_t* cr, const Path& path);
  void setColor(const Color& color);
  // A one-line layout for the current cairo space, which must have y pointing down.
  PangoLayout* makeLayout(std::string_view text, const Font& font);

  // Reads the target and the clip, once: whether shapes may go straight onto the target's pixels.
  void readTarget();
  // Whether they may now: the target is the one read, and no clip of the canvas's own is in force.
  bool onTarget() const;

  cairo_t* cr_;
  Blend blend_;
  PathRaster* raster_;
  // The context's target, when it is an ARGB32 image offset by whole pixels under a clip of one
  // rectangle of whole pixels (the clip is read when the canvas is made: the context's own clip is
  // not changed but through the canvas).
  struct Target {
    cairo_surface_t* surface = nullptr;  // none: everything goes through cairo
    int offsetX = 0, offsetY = 0;        // device pixel (0, 0) is the target's (offsetX, offsetY)
    PathRaster::Box clip;                // in device pixels
    pixman_image_t* image = nullptr;     // over the target's pixels, made at first use
  };
  Target target_;
  struct Covered {
    bool any = false;
    double cx = 0, cy = 0, radius = 0;  // device pixels
  };
  Covered covered_;
  PathRaster::Box changed_;                    // the target's pixels composited onto
  bool changedAnywhere_ = false;               // something was drawn through cairo
  int clips_ = 0;                              // clips of the canvas's own in force
  std::vector<int> savedClips_;                // `clips_` at each save()
  std::unique_ptr<PathRaster> ownRaster_;      // made on first use when none was given
  std::vector<std::uint32_t> blendPixels_;     // reused from blend to blend
  std::vector<std::array<int, 4>> blendRows_;  // each row's covered stretch and hole
};

}  // namespace perch
