// The mascot's picture: a round button with a thin white rim showing the avatar (or a monogram),
// and, while the start feedback runs, a breathing violet glow, three ripple rings and an
// "I'm listening" bubble to the button's left. drawMascot keeps no state: every frame is computed
// afresh from what the view holds and the time since the feedback began. MascotPainter draws the
// same picture but keeps what does not move as a layer.
#pragma once

#include <memory>
#include <vector>

#include "canvas.h"
#include "geometry.h"

namespace perch {

// What one frame shows, taken from the view at the moment of drawing.
struct MascotPicture {
  Rect button;                          // the square holding the round button
  bool isStarting = false;              // the start feedback is running
  double elapsed = 0;                   // seconds since it began; may be negative or anything
  const CanvasImage* avatar = nullptr;  // null: the monogram is drawn instead
  Rect bounds;                          // the view; empty: not known, nothing is cut to it
};

// Paints the picture back to front over what the canvas holds; the backend clears the surface
// first, so everything not painted stays transparent.
void drawMascot(Canvas& canvas, const MascotPicture& picture);

// The glows and the ripple rings around `center`, `elapsed` seconds into the feedback.
void drawStartingEffects(Canvas& canvas, Point center, double elapsed);

// Everything in front of the glows and rings: the bubble with its label (while starting), the
// button disc, the avatar or monogram, and the rim. It changes only with the picture's geometry,
// state and avatar, never with the time.
void drawMascotForeground(Canvas& canvas, const MascotPicture& picture);

// Draws what drawMascot draws, keeping the foreground as layers (one per shape, so that they
// composite as the shapes would) made once for each button, bounds, state and avatar, and reused
// while none of them changes: during a feedback each frame only draws the glows and rings afresh.
class MascotPainter {
 public:
  void draw(Canvas& canvas, const MascotPicture& picture);
  // Forgets the layer; the next frame makes a new one.
  void reset();

 private:
  struct Key {
    Rect button, bounds;
    bool isStarting = false;
    const CanvasImage* avatar = nullptr;
    Size avatarSize;
    bool operator==(const Key&) const = default;
  };
  Key key_;
  std::vector<std::unique_ptr<CanvasLayer>> layers_;  // one per step; null: outside the view
};

// The square that the glows and rings drawn around `center` stay within at any time of the
// feedback: the widest ring at its largest with its widest line, and the glows at their fullest.
// During a feedback only this part of the picture changes from one frame to the next.
Rect startingEffectsBounds(Point center);

}  // namespace perch
