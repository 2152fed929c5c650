// Owns the mascot's panel and view and keeps where the mascot sits. The host gives the top-left
// corner and size of the expanded layout in top-left coordinates (x as the screen's, y measured
// down from a reference screen's top edge); with no feedback running the panel is a small idle
// square placed so that the button's centre stays on the same spot.
#pragma once

#include <optional>
#include <string>

#include "floating_mascot_view.h"
#include "geometry.h"
#include "mascot_platform.h"
#include "mascot_protocol.h"

namespace perch {

class FloatingMascotController final : public MascotViewOwner {
 public:
  FloatingMascotController(MascotPlatform& platform, std::optional<std::string> avatarPath);
  FloatingMascotController(const FloatingMascotController&) = delete;
  FloatingMascotController& operator=(const FloatingMascotController&) = delete;

  // Launch: the panel starts hidden, then the host hears "ready".
  void applicationDidFinishLaunching();
  // Carries out one command from the host.
  void dispatch(const MascotCommand& command);

  void show(double x, double y, double width, double height);
  void hide();
  void setFeedbackExpanded(bool expanded) override;
  void persistCurrentPanelPosition() override;

  std::optional<Rect> screenForTopLeft(double x, double y);
  Rect expandedFrame();
  Rect idleFrame();

  FloatingMascotView& mascotView() { return mascotView_; }
  Point expandedTopLeft() const { return expandedTopLeft_; }
  Size expandedSize() const { return expandedSize_; }

 private:
  std::optional<Rect> referenceScreen(double x, double y);
  void applyFrame(const Rect& frame);

  MascotPlatform& platform_;
  FloatingMascotView mascotView_;
  Point expandedTopLeft_;
  Size expandedSize_;
};

}  // namespace perch
