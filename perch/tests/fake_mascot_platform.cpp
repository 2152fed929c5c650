#include "fake_mascot_platform.h"

namespace perch {

struct FakeMascotPlatform::Timer {
  double interval;
  double due;
  std::function<void()> tick;
};

struct FakeMascotPlatform::TimerHandle : RepeatingTimer {
  TimerHandle(FakeMascotPlatform& p, std::uint64_t id, std::unique_ptr<Timer> t)
      : platform(p), id(id), timer(std::move(t)) {
    platform.timers_[id] = timer.get();
  }
  ~TimerHandle() override { platform.timers_.erase(id); }
  FakeMascotPlatform& platform;
  std::uint64_t id;
  std::unique_ptr<Timer> timer;
};

std::optional<Rect> FakeMascotPlatform::mainScreen() {
  if (!hasMainScreen || screenFrames.empty()) return std::nullopt;
  return screenFrames.front();
}

void FakeMascotPlatform::setPanelFrame(const Rect& f) {
  frame = f;
  appliedFrames.push_back(f);
}

void FakeMascotPlatform::setPanelOrigin(Point origin) {
  frame.x = origin.x;
  frame.y = origin.y;
}

std::optional<Rect> FakeMascotPlatform::panelScreen() {
  // The screen holding most of the panel, as a window system would say.
  std::optional<Rect> best;
  double bestArea = 0;
  for (const Rect& s : screenFrames) {
    Rect common = s.intersection(frame);
    double area = common.width * common.height;
    if (area > bestArea) {
      bestArea = area;
      best = s;
    }
  }
  return best;
}

void FakeMascotPlatform::orderFront() {
  visible = true;
  ++orderFrontCount;
}

std::unique_ptr<RepeatingTimer> FakeMascotPlatform::scheduleRepeating(double interval,
                                                                      std::function<void()> tick) {
  auto timer = std::make_unique<Timer>(Timer{interval, clock_ + interval, std::move(tick)});
  return std::make_unique<TimerHandle>(*this, nextId_++, std::move(timer));
}

void FakeMascotPlatform::runAfter(double delay, std::function<void()> work) {
  delayed_.emplace(clock_ + delay, std::move(work));
}

void FakeMascotPlatform::advance(double seconds) {
  const double end = clock_ + seconds;
  for (;;) {
    Timer* timer = nullptr;
    for (auto& [id, t] : timers_) {
      if (timer == nullptr || t->due < timer->due) timer = t;
    }
    const bool workDue = !delayed_.empty() && delayed_.begin()->first <= end &&
                         (timer == nullptr || delayed_.begin()->first <= timer->due);
    if (workDue) {
      clock_ = delayed_.begin()->first;
      auto work = std::move(delayed_.begin()->second);
      delayed_.erase(delayed_.begin());
      work();
    } else if (timer != nullptr && timer->due <= end) {
      clock_ = timer->due;
      timer->due += timer->interval;
      timer->tick();
    } else {
      break;
    }
  }
  clock_ = end;
}

std::unique_ptr<CanvasImage> FakeMascotPlatform::loadImage(const std::string& path) {
  loadedImagePaths.push_back(path);
  return imageLoader ? imageLoader(path) : nullptr;
}

std::vector<std::string> FakeMascotPlatform::takeLines() {
  std::vector<std::string> taken;
  taken.swap(lines);
  return taken;
}

}  // namespace perch
