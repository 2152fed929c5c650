#include "floating_mascot_view.h"

#include <cmath>

#include "mascot_constants.h"

namespace perch {

FloatingMascotView::FloatingMascotView(MascotPlatform& platform, MascotViewOwner& owner,
                                       std::optional<std::string> avatarPath)
    : platform_(platform),
      owner_(owner),
      avatarPath_(std::move(avatarPath)),
      avatar_(avatarPath_ ? platform.loadImage(*avatarPath_) : nullptr),
      frame_{0, 0, idleWindowSize, idleWindowSize},
      startTime_(platform.now()),
      self_(std::make_shared<FloatingMascotView*>(this)) {}

Rect FloatingMascotView::startingEffectsArea() const {
  const Rect button = buttonRect();
  return startingEffectsBounds({button.midX(), button.midY()}).intersection(bounds());
}

bool FloatingMascotView::isExpandedLayout() const {
  return frame_.width > idleWindowSize + 1 || frame_.height > idleWindowSize + 1;
}

Rect FloatingMascotView::buttonRect() const {
  const double w = frame_.width, h = frame_.height;
  if (isExpandedLayout()) {
    return {w - expandedButtonRightInset - buttonSize, expandedButtonBottomInset, buttonSize,
            buttonSize};
  }
  return {(w - buttonSize) * 0.5, (h - buttonSize) * 0.5, buttonSize, buttonSize};
}

Rect FloatingMascotView::hitArea() const {
  return buttonRect().insetBy(-buttonHitPadding, -buttonHitPadding).intersection(bounds());
}

void FloatingMascotView::draw(Canvas& canvas) const {
  MascotPicture picture{buttonRect(), isStarting_, 0, avatar_.get(), bounds()};
  if (isStarting_) picture.elapsed = platform_.now() - startTime_;
  painter_.draw(canvas, picture);
}

void FloatingMascotView::startFeedback() {
  const std::int64_t generation = ++feedbackGeneration_;
  owner_.setFeedbackExpanded(true);
  isStarting_ = true;
  startTime_ = platform_.now();
  platform_.setNeedsDisplay();
  animationTimer_.reset();
  std::weak_ptr<FloatingMascotView*> weak = self_;
  MascotPlatform* platform = &platform_;
  // A tick changes only the glows and rings: that part alone is redrawn.
  animationTimer_ = platform_.scheduleRepeating(animationTickSeconds, [weak, platform] {
    if (auto view = weak.lock()) platform->setNeedsDisplayInRect((*view)->startingEffectsArea());
  });
  platform_.runAfter(startFeedbackSeconds, [weak, generation] {
    if (auto view = weak.lock()) (*view)->completeFeedback(generation);
  });
}

void FloatingMascotView::completeFeedback(std::int64_t generation) {
  if (feedbackGeneration_ != generation || !isStarting_) return;  // overtaken
  stopFeedback();
  emit(platform_, MascotEvent{"startFeedbackComplete", {}, {}, {}});
}

void FloatingMascotView::stopFeedback() {
  ++feedbackGeneration_;
  isStarting_ = false;
  animationTimer_.reset();
  owner_.setFeedbackExpanded(false);
  platform_.setNeedsDisplay();
}

void FloatingMascotView::screensChanged() { owner_.setFeedbackExpanded(isStarting_); }

void FloatingMascotView::mouseEntered() { platform_.setCursor(Cursor::pointingHand); }

void FloatingMascotView::mouseExited() { platform_.setCursor(Cursor::arrow); }

void FloatingMascotView::cursorUpdate() {
  platform_.setCursor(mouseDownLocation_ ? Cursor::closedHand : Cursor::pointingHand);
}

void FloatingMascotView::mouseDown(Point location) {
  if (!hitArea().contains(location)) return;
  mouseDownLocation_ = platform_.mouseLocation();
  const Rect panel = platform_.panelFrame();
  mouseDownWindowOrigin_ = Point{panel.x, panel.y};
  didDrag_ = false;
  platform_.setCursor(Cursor::closedHand);
}

void FloatingMascotView::mouseDragged() {
  if (!mouseDownLocation_ || !mouseDownWindowOrigin_) return;
  const Point now = platform_.mouseLocation();
  const double dx = now.x - mouseDownLocation_->x;
  const double dy = now.y - mouseDownLocation_->y;
  if (!didDrag_ && std::hypot(dx, dy) < dragThreshold) return;  // may still be a click
  didDrag_ = true;
  stopFeedback();
  platform_.setPanelOrigin(Point{mouseDownWindowOrigin_->x + dx, mouseDownWindowOrigin_->y + dy});
}

void FloatingMascotView::mouseUp(Point location) {
  if (didDrag_) {
    owner_.persistCurrentPanelPosition();
    platform_.setCursor(Cursor::pointingHand);
  } else if (hitArea().contains(location)) {
    platform_.setCursor(Cursor::pointingHand);
    openVoiceCaptureDeepLink();
  }
  mouseDownLocation_.reset();
  mouseDownWindowOrigin_.reset();
  didDrag_ = false;
}

void FloatingMascotView::mouseCancelled() {
  if (!mouseDownLocation_) return;
  if (didDrag_) owner_.persistCurrentPanelPosition();
  platform_.setCursor(Cursor::arrow);
  mouseDownLocation_.reset();
  mouseDownWindowOrigin_.reset();
  didDrag_ = false;
}

void FloatingMascotView::openVoiceCaptureDeepLink() {
  platform_.openURL(mascotVoiceCaptureDeepLink);
}

}  // namespace perch
