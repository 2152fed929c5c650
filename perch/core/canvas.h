// What the mascot draws with. The core draws every picture through this interface in view
// coordinates (origin bottom-left, y up, points); each platform supplies one implementation.
#pragma once

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "geometry.h"

namespace perch {

struct Color {
  double red = 0, green = 0, blue = 0, alpha = 1;
};

// The platform's user-interface font at a size in points and one of four weights.
enum class FontWeight { regular, medium, semibold, bold };
struct Font {
  double size = 13;
  FontWeight weight = FontWeight::regular;
};

// A picture the platform loaded (the avatar); the core only reads its size and draws it.
class CanvasImage {
 public:
  virtual ~CanvasImage() = default;
  virtual Size size() const = 0;  // points
};

// A shape of straight lines and cubic curves. Ovals and rounded rectangles are built of
// quarter-ellipse curves, the way the platforms' own path classes build them.
class Path {
 public:
  enum class Verb { moveTo, lineTo, curveTo, close };
  struct Element {
    Verb verb;
    Point points[3];  // curveTo: first control, second control, end; otherwise points[0]
  };

  static Path rect(const Rect& rect);
  static Path oval(const Rect& rect);
  static Path roundedRect(const Rect& rect, double xRadius, double yRadius);

  void moveTo(Point point);
  void lineTo(Point point);
  void quadTo(Point control, Point end);  // kept as the equal cubic
  void curveTo(Point control1, Point control2, Point end);
  void close();
  void addRect(const Rect& rect);
  // The oval inscribed in the rectangle.
  void addOval(const Rect& rect);
  // Radii larger than half the rectangle's side are cut down to it.
  void addRoundedRect(const Rect& rect, double xRadius, double yRadius);

  const std::vector<Element>& elements() const { return elements_; }
  bool isEmpty() const { return elements_.empty(); }
  // The smallest rectangle holding the shape: curves count by their extremes, not by their
  // control points. An empty path has an empty rectangle at the origin.
  Rect bounds() const;

 private:
  std::vector<Element> elements_;
  Point current_;
  Point subpathStart_;
};

// Pixels a canvas drew once and keeps, to be composited again without drawing them afresh.
class CanvasLayer {
 public:
  virtual ~CanvasLayer() = default;
};

class Canvas {
 public:
  virtual ~Canvas() = default;

  // Clip changes last until the matching restore().
  virtual void save() = 0;
  virtual void restore() = 0;
  virtual void clip(const Path& path) = 0;  // narrows the current clip to the path's inside

  // Shapes are composited over what is there (source-over); fills use the non-zero rule.
  virtual void fillPath(const Path& path, const Color& color) = 0;
  virtual void strokePath(const Path& path, const Color& color, double lineWidth) = 0;
  // A radial blend inside the path: `center` at the centre of the path's bounds, changing evenly
  // to `edge` on the smallest circle about that centre that covers the bounds (half their
  // diagonal), so an oval's own edge is reached at about 71% of the way.
  virtual void fillRadialGradient(const Path& path, const Color& center, const Color& edge) = 0;

  // Text in one line, unwrapped. The size is that of the text's line box; drawing puts the line
  // box's lower-left corner at `origin`.
  virtual Size measureText(std::string_view text, const Font& font) = 0;
  virtual void drawText(std::string_view text, const Font& font, const Color& color,
                        Point origin) = 0;

  // The whole image scaled into the rectangle, upright, at full opacity.
  virtual void drawImage(const CanvasImage& image, const Rect& rect) = 0;

  // Draws what `paint` paints, over a transparent start, into a new layer covering `area` (in
  // view coordinates, rounded out to whole pixels) instead of onto this canvas.
  virtual std::unique_ptr<CanvasLayer> makeLayer(const Rect& area,
                                                 std::function<void(Canvas&)> paint) = 0;
  // Composites the layer over what is there, where it was drawn. False, drawing nothing, when the
  // layer cannot be shown as it was made here (another kind of canvas, another transformation):
  // the caller then draws directly and makes a new layer.
  virtual bool drawLayer(const CanvasLayer& layer) = 0;

  // A hint: what is drawn from now on inside the oval will be covered by opaque paint before the
  // picture is shown, so the canvas may leave the pixels wholly inside it as they are. An empty
  // rectangle withdraws it. A canvas may ignore it.
  virtual void setCoveredOval(const Rect& oval) { (void)oval; }

  void fillRect(const Rect& rect, const Color& color) { fillPath(Path::rect(rect), color); }
  void fillOval(const Rect& rect, const Color& color) { fillPath(Path::oval(rect), color); }
  void strokeOval(const Rect& rect, const Color& color, double lineWidth) {
    strokePath(Path::oval(rect), color, lineWidth);
  }
  void fillRoundedRect(const Rect& rect, double radius, const Color& color) {
    fillPath(Path::roundedRect(rect, radius, radius), color);
  }
};

}  // namespace perch
