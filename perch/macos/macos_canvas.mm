#include "macos_canvas.h"

#import <AppKit/AppKit.h>

namespace perch {
namespace {

// An avatar as AppKit loaded it; drawn whole with NSImage's own scaling.
class MacOSImage final : public CanvasImage {
 public:
  explicit MacOSImage(NSImage* image) : image_(image) {}
  Size size() const override { return {image_.size.width, image_.size.height}; }
  NSImage* image() const { return image_; }

 private:
  NSImage* image_;
};

// What a layer holds on AppKit: the drawing, replayed.
class MacOSReplayLayer final : public CanvasLayer {
 public:
  explicit MacOSReplayLayer(std::function<void(Canvas&)> paint) : paint_(std::move(paint)) {}
  void replay(Canvas& canvas) const { paint_(canvas); }

 private:
  std::function<void(Canvas&)> paint_;
};

NSPoint toNSPoint(Point p) { return NSMakePoint(p.x, p.y); }

NSRect toNSRect(const Rect& r) { return NSMakeRect(r.x, r.y, r.width, r.height); }

NSBezierPath* toBezierPath(const Path& path) {
  NSBezierPath* bezier = [NSBezierPath bezierPath];
  bezier.windingRule = NSWindingRuleNonZero;
  for (const Path::Element& e : path.elements()) {
    const Point* p = e.points;
    switch (e.verb) {
      case Path::Verb::moveTo:
        [bezier moveToPoint:toNSPoint(p[0])];
        break;
      case Path::Verb::lineTo:
        [bezier lineToPoint:toNSPoint(p[0])];
        break;
      case Path::Verb::curveTo:
        [bezier curveToPoint:toNSPoint(p[2])
               controlPoint1:toNSPoint(p[0])
               controlPoint2:toNSPoint(p[1])];
        break;
      case Path::Verb::close:
        [bezier closePath];
        break;
    }
  }
  return bezier;
}

// Colours are calibrated; greys (white, the rim) in the calibrated white space, as AppKit's own
// whiteColor is, the rest in calibrated RGB.
NSColor* toNSColor(const Color& c) {
  if (c.red == c.green && c.green == c.blue) {
    return [NSColor colorWithCalibratedWhite:c.red alpha:c.alpha];
  }
  return [NSColor colorWithCalibratedRed:c.red green:c.green blue:c.blue alpha:c.alpha];
}

NSFontWeight toNSFontWeight(FontWeight weight) {
  switch (weight) {
    case FontWeight::medium:
      return NSFontWeightMedium;
    case FontWeight::semibold:
      return NSFontWeightSemibold;
    case FontWeight::bold:
      return NSFontWeightBold;
    case FontWeight::regular:
      break;
  }
  return NSFontWeightRegular;
}

NSString* toNSString(std::string_view text) {
  return [[NSString alloc] initWithBytes:text.data()
                                  length:text.size()
                                encoding:NSUTF8StringEncoding];
}

NSDictionary<NSAttributedStringKey, id>* textAttributes(const Font& font, NSColor* color) {
  NSFont* nsFont = [NSFont systemFontOfSize:font.size weight:toNSFontWeight(font.weight)];
  return @{NSFontAttributeName : nsFont, NSForegroundColorAttributeName : color};
}

}  // namespace

void MacOSCanvas::save() { [NSGraphicsContext saveGraphicsState]; }

void MacOSCanvas::restore() { [NSGraphicsContext restoreGraphicsState]; }

void MacOSCanvas::clip(const Path& path) { [toBezierPath(path) addClip]; }

void MacOSCanvas::fillPath(const Path& path, const Color& color) {
  [toNSColor(color) setFill];
  [toBezierPath(path) fill];
}

void MacOSCanvas::strokePath(const Path& path, const Color& color, double lineWidth) {
  NSBezierPath* bezier = toBezierPath(path);
  bezier.lineWidth = lineWidth;
  [toNSColor(color) setStroke];
  [bezier stroke];
}

void MacOSCanvas::fillRadialGradient(const Path& path, const Color& center, const Color& edge) {
  // AppKit's radial fill of a path: the first colour at the centre of the path's bounds (relative
  // position (0, 0)), the last on the circle that just covers the bounds.
  NSGradient* gradient =
      [[NSGradient alloc] initWithColors:@[ toNSColor(center), toNSColor(edge) ]];
  if (gradient == nil) return;  // this blend is dropped; the rest of the picture is drawn
  [gradient drawInBezierPath:toBezierPath(path) relativeCenterPosition:NSZeroPoint];
}

Size MacOSCanvas::measureText(std::string_view text, const Font& font) {
  NSString* string = toNSString(text);
  if (string == nil) return {};
  const NSSize size = [string sizeWithAttributes:textAttributes(font, [NSColor whiteColor])];
  return {size.width, size.height};
}

void MacOSCanvas::drawText(std::string_view text, const Font& font, const Color& color,
                           Point origin) {
  NSString* string = toNSString(text);
  if (string == nil) return;
  // In a view that is not flipped the point is the lower-left corner of the line box.
  [string drawAtPoint:toNSPoint(origin) withAttributes:textAttributes(font, toNSColor(color))];
}

void MacOSCanvas::drawImage(const CanvasImage& image, const Rect& rect) {
  const auto* macImage = dynamic_cast<const MacOSImage*>(&image);
  if (macImage == nullptr) return;
  [macImage->image() drawInRect:toNSRect(rect)];  // source-over, full opacity, upright
}

std::unique_ptr<CanvasLayer> MacOSCanvas::makeLayer(const Rect&,
                                                    std::function<void(Canvas&)> paint) {
  return std::make_unique<MacOSReplayLayer>(std::move(paint));
}

bool MacOSCanvas::drawLayer(const CanvasLayer& layer) {
  const auto* replay = dynamic_cast<const MacOSReplayLayer*>(&layer);
  if (replay == nullptr) return false;
  replay->replay(*this);
  return true;
}

std::unique_ptr<CanvasImage> loadMacOSImage(const std::string& path) {
  // The path's bytes as the file system means them, not decoded as text.
  NSString* file = [[NSFileManager defaultManager] stringWithFileSystemRepresentation:path.data()
                                                                               length:path.size()];
  if (file.length == 0) return nullptr;
  NSImage* image = [[NSImage alloc] initWithContentsOfFile:file];
  // NSImage reads lazily; asking for its representations makes it look at the data.
  if (image == nil || image.representations.count == 0) return nullptr;
  return std::make_unique<MacOSImage>(image);
}

}  // namespace perch
