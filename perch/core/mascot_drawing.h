// The mascot's picture: a round button with a thin white rim showing the avatar (or a monogram),
// and, while the start feedback runs, a breathing violet glow, three ripple rings and an
// "I'm listening" bubble to the button's left. Drawing keeps no state: every frame is computed
// afresh from what the view holds and the time since the feedback began.
#pragma once

#include "canvas.h"
#include "geometry.h"

namespace perch {

// What one frame shows, taken from the view at the moment of drawing.
struct MascotPicture {
  Rect button;                          // the square holding the round button
  bool isStarting = false;              // the start feedback is running
  double elapsed = 0;                   // seconds since it began; may be negative or anything
  const CanvasImage* avatar = nullptr;  // null: the monogram is drawn instead
};

// Paints the picture back to front over what the canvas holds; the backend clears the surface
// first, so everything not painted stays transparent.
void drawMascot(Canvas& canvas, const MascotPicture& picture);

// The glows and the ripple rings around `center`, `elapsed` seconds into the feedback.
void drawStartingEffects(Canvas& canvas, Point center, double elapsed);

}  // namespace perch
