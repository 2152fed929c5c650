#include "mascot_drawing.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

#include "mascot_constants.h"

namespace perch {
namespace {

constexpr Color white{1, 1, 1, 1};

// The listening bubble: 28 high, the label 14 in from each side, its right edge 12 left of the
// button, with a tail 12 high pointing 6 to the right at the button.
constexpr const char* listeningLabel = "I'm listening";
constexpr Font labelFont{13, FontWeight::semibold};
constexpr double bubbleHeight = 28;
constexpr double bubblePadding = 14;
constexpr double bubbleGap = 12;
constexpr double bubbleCornerRadius = 10;
constexpr double tailHalfHeight = 6;
constexpr double tailLength = 6;
constexpr Color bubbleColor{0.118, 0.114, 0.149, 0.94};

// The monogram stands in for a missing avatar, at fixed offsets from the button's centre (the
// letter is not measured).
constexpr const char* monogram = "H";
constexpr Font monogramFont{22, FontWeight::bold};
constexpr Color monogramColor{0.42, 0.34, 0.9, 1.0};
constexpr double monogramOffsetX = -8;
constexpr double monogramOffsetY = -13;

// The rim: a 1-point line just inside the button's edge.
constexpr Color rimColor{1, 1, 1, 0.7};
constexpr double rimInset = 0.5;
constexpr double rimWidth = 1.0;

// The glow breathes once every 1.6 seconds.
constexpr double pulsePeriod = 1.6;

// Each ripple ring starts at the button's size after its delay, widens by `growth` button sizes
// over its period while fading and thinning, then starts again.
struct RippleRing {
  double delay, period, growth;
};
constexpr RippleRing rippleRings[] = {
    {0, 1.85, 1.6},
    {0.55, 2.1, 2.3 - 1.0},
    {1.05, 1.55, 1.9},
};
constexpr double ringAlpha = 0.95;
constexpr double ringWidth = 2.5;
constexpr double ringMinWidth = 0.8;

Rect square(Point center, double side) {
  return {center.x - 0.5 * side, center.y - 0.5 * side, side, side};
}

Rect bubbleRect(const Rect& button, Size label) {
  return {button.minX() - bubbleGap - label.width - 2 * bubblePadding,
          button.midY() - 0.5 * bubbleHeight, label.width + 2 * bubblePadding, bubbleHeight};
}

Path tailPath(const Rect& bubble) {
  Path tail;
  tail.moveTo({bubble.maxX(), bubble.midY() + tailHalfHeight});
  tail.lineTo({bubble.maxX() + tailLength, bubble.midY()});
  tail.lineTo({bubble.maxX(), bubble.midY() - tailHalfHeight});
  tail.close();
  return tail;
}

void drawButtonContent(Canvas& canvas, const Rect& button, const CanvasImage* avatar) {
  if (avatar != nullptr) {
    const Size size = avatar->size();
    const double iw = size.width, ih = size.height;
    if (!(iw > 0 && ih > 0)) return;  // nothing to scale: the white disc shows
    // Cover the whole circle, keeping the aspect ratio; the clip crops the overhang.
    const double scale = std::max(button.width / iw, button.height / ih);
    canvas.drawImage(*avatar, {button.midX() - 0.5 * iw * scale, button.midY() - 0.5 * ih * scale,
                               iw * scale, ih * scale});
    return;
  }
  canvas.fillRect(button, white);
  canvas.drawText(monogram, monogramFont, monogramColor,
                  {button.midX() + monogramOffsetX, button.midY() + monogramOffsetY});
}

}  // namespace

void drawStartingEffects(Canvas& canvas, Point center, double elapsed) {
  const double t = elapsed;
  const double pulse = (std::sin((t / pulsePeriod) * std::numbers::pi * 2) + 1) * 0.5;

  // Outer glow: 75.6 to 90.72 across, its centre's alpha breathing with it.
  const double outer = 0.18 * pulse;
  canvas.fillRadialGradient(Path::oval(square(center, (outer + 0.9) * 84)),
                            {0.6, 0.5, 1.0, (0.82 + outer) * 0.62}, {0.45, 0.42, 1.0, 0.0});
  // Inner glow: 54.28 to 63.72 across, steady alpha.
  canvas.fillRadialGradient(Path::oval(square(center, (pulse * 0.16 + 0.92) * 59)),
                            {0.58, 0.47, 1.0, 0.72}, {0.45, 0.4, 1.0, 0.0});

  for (const RippleRing& ring : rippleRings) {
    const double x = t - ring.delay;
    // Before its delay (or with a clock gone wrong) a ring waits at the button's size.
    const double phase = x >= 0 ? std::fmod(x, ring.period) / ring.period : 0;
    const double rest = 1 - phase;
    const double diameter = (phase * ring.growth + 1) * buttonSize;
    double alpha = ringAlpha * rest;
    if (!(alpha >= 0)) alpha = 0;
    const double width = ringWidth * rest > ringMinWidth ? ringWidth * rest : ringMinWidth;
    canvas.strokePath(Path::oval(square(center, diameter)), {0.52, 0.43, 1.0, alpha}, width);
  }
}

namespace {

// One drawing step of the foreground, and the part of the view it stays within.
struct ForegroundStep {
  Rect area;
  std::function<void(Canvas&)> paint;
};

// The foreground's steps, back to front. Each step paints one shape (or the clipped content), so
// each one kept on its own composites over the glows with the same rounding as when drawn there.
std::vector<ForegroundStep> foregroundSteps(Canvas& canvas, const MascotPicture& picture) {
  const Rect button = picture.button;
  const CanvasImage* avatar = picture.avatar;
  const Rect around = button.insetBy(-1, -1);
  std::vector<ForegroundStep> steps;
  if (picture.isStarting) {
    const Size label = canvas.measureText(listeningLabel, labelFont);
    const Rect bubble = bubbleRect(button, label);
    const Rect row = bubble.united(tailPath(bubble).bounds()).insetBy(-1, -1);
    steps.push_back({row, [bubble](Canvas& c) {
                       c.fillPath(Path::roundedRect(bubble, bubbleCornerRadius, bubbleCornerRadius),
                                  bubbleColor);
                     }});
    steps.push_back({row, [bubble](Canvas& c) { c.fillPath(tailPath(bubble), bubbleColor); }});
    steps.push_back({row, [bubble, label](Canvas& c) {
                       c.drawText(
                           listeningLabel, labelFont, white,
                           {bubble.minX() + bubblePadding, bubble.midY() - 0.5 * label.height});
                     }});
  }
  steps.push_back({around, [button](Canvas& c) { c.fillOval(button, white); }});
  steps.push_back({around, [button, avatar](Canvas& c) {
                     c.save();
                     c.clip(Path::oval(button));
                     drawButtonContent(c, button, avatar);
                     c.restore();
                   }});
  steps.push_back({around, [button](Canvas& c) {
                     c.strokeOval(button.insetBy(rimInset, rimInset), rimColor, rimWidth);
                   }});
  return steps;
}

}  // namespace

void drawMascotForeground(Canvas& canvas, const MascotPicture& picture) {
  for (const ForegroundStep& step : foregroundSteps(canvas, picture)) step.paint(canvas);
}

void drawMascot(Canvas& canvas, const MascotPicture& picture) {
  const Rect& button = picture.button;
  if (picture.isStarting) {
    drawStartingEffects(canvas, {button.midX(), button.midY()}, picture.elapsed);
  }
  drawMascotForeground(canvas, picture);
}

void MascotPainter::reset() { layers_.clear(); }

void MascotPainter::draw(Canvas& canvas, const MascotPicture& picture) {
  const Rect& button = picture.button;
  if (picture.isStarting) {
    // The button's white disc, opaque, goes over the glows and rings: nothing under it shows.
    canvas.setCoveredOval(button);
    drawStartingEffects(canvas, {button.midX(), button.midY()}, picture.elapsed);
    canvas.setCoveredOval({});
  }
  const Key key{button, picture.bounds, picture.isStarting, picture.avatar,
                picture.avatar != nullptr ? picture.avatar->size() : Size{}};
  if (!layers_.empty() && key == key_) {
    size_t shown = 0;
    while (shown < layers_.size() &&
           (layers_[shown] == nullptr || canvas.drawLayer(*layers_[shown])))
      ++shown;
    if (shown == layers_.size()) return;
    // This canvas cannot show what was kept (only the first layer can fail): make it afresh.
  }
  key_ = key;
  layers_.clear();
  bool kept = true;
  for (ForegroundStep& step : foregroundSteps(canvas, picture)) {
    Rect area = step.area;
    if (!picture.bounds.isEmpty()) area = area.intersection(picture.bounds);
    // A step wholly outside the view leaves nothing to keep.
    std::unique_ptr<CanvasLayer> layer;
    if (!area.isEmpty()) {
      layer = canvas.makeLayer(area, step.paint);
      if (layer == nullptr || !canvas.drawLayer(*layer)) {
        step.paint(canvas);
        kept = false;
      }
    }
    layers_.push_back(std::move(layer));
  }
  if (!kept) layers_.clear();
}

}  // namespace perch

namespace perch {

Rect startingEffectsBounds(Point center) {
  // The largest ring never quite reaches (1 + growth) button sizes, and its line is never wider
  // than ringWidth, whatever the time.
  double radius = 0;
  for (const RippleRing& ring : rippleRings) {
    radius = std::max(radius, 0.5 * (1 + ring.growth) * buttonSize + 0.5 * ringWidth);
  }
  // The outer glow at its fullest, 1.08 x 84 across; the inner one, 1.08 x 59.
  radius = std::max({radius, 0.5 * (0.18 + 0.9) * 84, 0.5 * (0.16 + 0.92) * 59});
  return square(center, 2 * radius);
}

}  // namespace perch
