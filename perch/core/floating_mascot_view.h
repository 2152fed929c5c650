// The mascot's one view: the round button's geometry, the area that reacts to the pointer, the
// cursor, and the start feedback's lifecycle.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "canvas.h"
#include "geometry.h"
#include "mascot_drawing.h"
#include "mascot_platform.h"

namespace perch {

// What the view needs from whoever owns it and places the panel.
class MascotViewOwner {
 public:
  // Lays the panel out for the feedback (the expanded layout) or for idle, at the host's place.
  virtual void setFeedbackExpanded(bool expanded) = 0;
  // A drag ended: the panel's place is kept and the host told of it.
  virtual void persistCurrentPanelPosition() = 0;

 protected:
  ~MascotViewOwner() = default;
};

// The owner of a view that is only drawn (offscreen pictures, tests): there is no panel to place.
class DrawingOnlyOwner final : public MascotViewOwner {
 public:
  void setFeedbackExpanded(bool) override {}
  void persistCurrentPanelPosition() override {}
};

class FloatingMascotView {
 public:
  // `owner` outlives the view.
  FloatingMascotView(MascotPlatform& platform, MascotViewOwner& owner,
                     std::optional<std::string> avatarPath);
  FloatingMascotView(const FloatingMascotView&) = delete;
  FloatingMascotView& operator=(const FloatingMascotView&) = delete;

  const std::optional<std::string>& avatarPath() const { return avatarPath_; }
  // Loaded once, at construction; null when there was no path or no readable image.
  const CanvasImage* avatar() const { return avatar_.get(); }
  Rect bounds() const { return {0, 0, frame_.width, frame_.height}; }
  void setFrame(const Rect& frame) { frame_ = frame; }

  // The square holding the round button, in view coordinates; it follows from the view's size.
  Rect buttonRect() const;
  // The button square grown by the hit padding and clipped to the view.
  Rect hitArea() const;
  bool isExpandedLayout() const;
  // The part of the view that the start feedback's glows and rings can paint: all that a tick of
  // its animation changes.
  Rect startingEffectsArea() const;

  // Paints the whole view; what is not painted stays transparent. Reads the clock once. What does
  // not move during a feedback is drawn once and kept while the size, state and avatar stay.
  void draw(Canvas& canvas) const;

  // Start feedback.
  void startFeedback();
  void stopFeedback();
  bool isStarting() const { return isStarting_; }
  double startTime() const { return startTime_; }
  std::int64_t feedbackGeneration() const { return feedbackGeneration_; }
  bool animationTimerRunning() const { return animationTimer_ != nullptr; }

  // The screens changed under the panel (their layout or their scale): it is placed again for the
  // layout it shows.
  void screensChanged();

  // Pointer tracking over the hit area.
  void mouseEntered();
  void mouseExited();
  void cursorUpdate();

  // A press, a movement while pressed, and the release, with the pointer in view coordinates
  // where the event happened. Drags read the pointer's current screen position themselves.
  void mouseDown(Point location);
  void mouseDragged();
  void mouseUp(Point location);
  // The press ended without a release (the panel hidden under it, the pointer taken away): a drag
  // reports where it left the panel, as a release would; anything else is no click.
  void mouseCancelled();
  bool isTrackingPress() const { return mouseDownLocation_.has_value(); }

 private:
  void completeFeedback(std::int64_t generation);
  void openVoiceCaptureDeepLink();

  MascotPlatform& platform_;
  MascotViewOwner& owner_;
  std::optional<std::string> avatarPath_;
  std::unique_ptr<CanvasImage> avatar_;
  mutable MascotPainter painter_;  // a cache: drawing stays a function of the state and the time
  Rect frame_;
  std::optional<Point> mouseDownLocation_;
  std::optional<Point> mouseDownWindowOrigin_;
  bool didDrag_ = false;
  std::unique_ptr<RepeatingTimer> animationTimer_;
  double startTime_ = 0;
  bool isStarting_ = false;
  std::int64_t feedbackGeneration_ = 0;
  // Delayed work and timer ticks hold the view through this token, weakly.
  std::shared_ptr<FloatingMascotView*> self_;
};

}  // namespace perch
