// An in-memory desktop for the mascot: screens chosen by the test, a manual monotonic clock, a
// manual main queue of timers and delayed work, and a record of everything the core did.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "mascot_platform.h"

namespace perch {

class FakeMascotPlatform : public MascotPlatform {
 public:
  // Chosen by the test.
  std::vector<Rect> screenFrames{{0, 0, 1440, 900}};
  bool hasMainScreen = true;
  Point pointer;
  // Reads image files for the view; by default no file holds a readable image.
  std::function<std::unique_ptr<CanvasImage>(const std::string& path)> imageLoader;

  // What happened.
  Rect frame;
  bool visible = false;
  int orderFrontCount = 0;
  int redisplayCount = 0;
  std::vector<Rect> redisplayAreas;  // one per redraw asked for a part only
  std::vector<Rect> appliedFrames;
  std::vector<Cursor> cursors;
  std::vector<std::string> openedURLs;
  std::vector<std::string> loadedImagePaths;
  std::vector<std::string> lines;
  bool terminated = false;

  std::vector<Rect> screens() override { return screenFrames; }
  std::optional<Rect> mainScreen() override;
  void setPanelFrame(const Rect& f) override;
  void setPanelOrigin(Point origin) override;
  Rect panelFrame() override { return frame; }
  std::optional<Rect> panelScreen() override;
  void orderFront() override;
  void orderOut() override { visible = false; }
  void setNeedsDisplay() override { ++redisplayCount; }
  void setNeedsDisplayInRect(const Rect& area) override {
    ++redisplayCount;
    redisplayAreas.push_back(area);
  }
  double now() override { return clock_; }
  std::unique_ptr<RepeatingTimer> scheduleRepeating(double interval,
                                                    std::function<void()> tick) override;
  void runAfter(double delay, std::function<void()> work) override;
  Point mouseLocation() override { return pointer; }
  void setCursor(Cursor cursor) override { cursors.push_back(cursor); }
  void openURL(std::string_view url) override { openedURLs.emplace_back(url); }
  std::unique_ptr<CanvasImage> loadImage(const std::string& path) override;
  void writeLine(std::string_view line) override { lines.emplace_back(line); }
  void terminate() override { terminated = true; }

  // Moves the clock forward, running every timer tick and delayed work item that falls due, in
  // order of their due times.
  void advance(double seconds);
  int timersRunning() const { return static_cast<int>(timers_.size()); }
  int pendingWork() const { return static_cast<int>(delayed_.size()); }
  std::vector<std::string> takeLines();

 private:
  struct Timer;
  struct TimerHandle;
  double clock_ = 1000.0;  // not zero: nothing may assume the clock starts there
  std::uint64_t nextId_ = 0;
  std::map<std::uint64_t, Timer*> timers_;
  std::multimap<double, std::function<void()>> delayed_;
};

}  // namespace perch
