#include "floating_mascot_controller.h"

#include "mascot_constants.h"

namespace perch {

FloatingMascotController::FloatingMascotController(MascotPlatform& platform,
                                                   std::optional<std::string> avatarPath)
    : platform_(platform),
      mascotView_(platform, *this, std::move(avatarPath)),
      expandedTopLeft_{0, 0},
      expandedSize_{expandedWindowWidth, expandedWindowHeight} {}

void FloatingMascotController::applicationDidFinishLaunching() {
  platform_.orderOut();  // hidden until the first "show"
  emit(platform_, MascotEvent{"status", {}, {}, "ready"});
}

void FloatingMascotController::dispatch(const MascotCommand& c) {
  switch (c.kind) {
    case CommandKind::show:
      show(c.x.value_or(0), c.y.value_or(0), c.width.value_or(expandedWindowWidth),
           c.height.value_or(expandedWindowHeight));
      break;
    case CommandKind::hide:
      hide();
      break;
    case CommandKind::startFeedback:
      mascotView_.startFeedback();
      break;
    case CommandKind::stopFeedback:
      mascotView_.stopFeedback();
      break;
    case CommandKind::quit:
      platform_.terminate();
      break;
    case CommandKind::unknown:
      break;
  }
}

std::optional<Rect> FloatingMascotController::screenForTopLeft(double x, double y) {
  // Chosen by x alone; a negative y matches no screen.
  for (const Rect& screen : platform_.screens()) {
    if (screen.minX() <= x && x <= screen.maxX() && y >= 0) return screen;
  }
  return std::nullopt;
}

std::optional<Rect> FloatingMascotController::referenceScreen(double x, double y) {
  if (auto screen = screenForTopLeft(x, y)) return screen;
  return platform_.mainScreen();
}

Rect FloatingMascotController::expandedFrame() {
  const double l = expandedTopLeft_.x, t = expandedTopLeft_.y;
  const double w = expandedSize_.width, h = expandedSize_.height;
  const auto screen = referenceScreen(l, t);
  const double s = screen ? screen->maxY() : h;
  return {l, s - t - h, w, h};
}

Rect FloatingMascotController::idleFrame() {
  const double l = expandedTopLeft_.x, t = expandedTopLeft_.y;
  const double w = expandedSize_.width, h = expandedSize_.height;
  // The expanded layout's button centre, then the idle square around it.
  const double cx = l + w - expandedButtonRightInset - buttonSize * 0.5;
  const double cy = t + h - expandedButtonBottomInset - buttonSize * 0.5;
  const double il = cx - idleWindowSize * 0.5;
  const double it = cy - idleWindowSize * 0.5;
  const auto screen = referenceScreen(il, it);
  const double s = screen ? screen->maxY() : idleWindowSize;
  return {il, s - it - idleWindowSize, idleWindowSize, idleWindowSize};
}

void FloatingMascotController::applyFrame(const Rect& frame) {
  platform_.setPanelFrame(frame);
  mascotView_.setFrame({0, 0, frame.width, frame.height});
  platform_.setNeedsDisplay();
}

void FloatingMascotController::show(double x, double y, double width, double height) {
  expandedTopLeft_ = {x, y};
  expandedSize_ = {width, height};
  applyFrame(mascotView_.isStarting() ? expandedFrame() : idleFrame());
  platform_.orderFront();
}

void FloatingMascotController::hide() {
  // A drag under way ends where it took the panel, before the feedback's end puts it back.
  mascotView_.mouseCancelled();
  mascotView_.stopFeedback();
  platform_.orderOut();
}

void FloatingMascotController::setFeedbackExpanded(bool expanded) {
  applyFrame(expanded ? expandedFrame() : idleFrame());
}

void FloatingMascotController::persistCurrentPanelPosition() {
  const Rect frame = platform_.panelFrame();
  auto screen = platform_.panelScreen();
  if (!screen) screen = platform_.mainScreen();
  const double s = screen ? screen->maxY() : frame.maxY();
  const double left = frame.x;
  const double top = s - (frame.y + frame.height);
  const Rect b = mascotView_.buttonRect();
  const double cx = left + b.midX();
  const double cy = frame.height + top - b.midY();
  expandedTopLeft_ = {cx - expandedSize_.width + expandedButtonRightInset + buttonSize * 0.5,
                      cy - expandedSize_.height + expandedButtonBottomInset + buttonSize * 0.5};
  emit(platform_, MascotEvent{"snap", expandedTopLeft_.x, expandedTopLeft_.y, {}});
}

}  // namespace perch
