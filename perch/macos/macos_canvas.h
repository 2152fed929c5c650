// The mascot's canvas on AppKit: draws into the current NSGraphicsContext (the view's, during
// drawRect:) with NSBezierPath, NSGradient, calibrated NSColor, the system font through
// attributed-string measuring and drawing, and NSImage. Coordinates are the view's own, not
// flipped, as the core gives them. The header names no Apple type.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "canvas.h"

namespace perch {

class MacOSCanvas final : public Canvas {
 public:
  MacOSCanvas() = default;
  MacOSCanvas(const MacOSCanvas&) = delete;
  MacOSCanvas& operator=(const MacOSCanvas&) = delete;

  void save() override;
  void restore() override;
  void clip(const Path& path) override;
  void fillPath(const Path& path, const Color& color) override;
  void strokePath(const Path& path, const Color& color, double lineWidth) override;
  void fillRadialGradient(const Path& path, const Color& center, const Color& edge) override;
  Size measureText(std::string_view text, const Font& font) override;
  void drawText(std::string_view text, const Font& font, const Color& color, Point origin) override;
  void drawImage(const CanvasImage& image, const Rect& rect) override;
  // A layer here keeps the drawing, not pixels: showing it draws it again on this canvas.
  std::unique_ptr<CanvasLayer> makeLayer(const Rect& area,
                                         std::function<void(Canvas&)> paint) override;
  bool drawLayer(const CanvasLayer& layer) override;
};

// The image in the file, read with NSImage; null when the file is missing or AppKit finds no image
// in it. An image AppKit reads but whose size is empty is kept: the core then draws the plain disc.
std::unique_ptr<CanvasImage> loadMacOSImage(const std::string& path);

}  // namespace perch
