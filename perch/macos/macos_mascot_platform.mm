#include "macos_mascot_platform.h"

#import <AppKit/AppKit.h>
#import <QuartzCore/QuartzCore.h>

#include <cstdio>
#include <cstdlib>

#include "macos_canvas.h"
#import "macos_mascot_view.h"
#include "mascot_constants.h"

namespace perch {
namespace {

// No title bar, border or controls; a click does not activate perch.
constexpr NSWindowStyleMask kPanelStyle = NSWindowStyleMaskNonactivatingPanel;
static_assert(kPanelStyle == 128);
// The status window level: above normal and floating windows.
constexpr NSWindowLevel kPanelLevel = 25;
static_assert(kPanelLevel == NSStatusWindowLevel);
// On every Space, left in place when the windows are spread out, allowed beside full-screen ones.
constexpr NSWindowCollectionBehavior kPanelCollectionBehavior =
    NSWindowCollectionBehaviorCanJoinAllSpaces | NSWindowCollectionBehaviorStationary |
    NSWindowCollectionBehaviorFullScreenAuxiliary;
static_assert(kPanelCollectionBehavior == 0x111);

Rect fromNSRect(NSRect r) { return {r.origin.x, r.origin.y, r.size.width, r.size.height}; }

NSRect toNSRect(const Rect& r) { return NSMakeRect(r.x, r.y, r.width, r.height); }

// Invalidating the NSTimer stops it; the run loop holds it until then.
class MacOSTimer final : public RepeatingTimer {
 public:
  explicit MacOSTimer(NSTimer* timer) : timer_(timer) {}
  ~MacOSTimer() override { [timer_ invalidate]; }

 private:
  NSTimer* timer_;
};

}  // namespace

struct MacOSMascotPlatform::Objects {
  NSPanel* panel = nil;
  MacOSMascotView* view = nil;
};

MacOSMascotPlatform::MacOSMascotPlatform() : objects_(std::make_unique<Objects>()) {}

MacOSMascotPlatform::~MacOSMascotPlatform() {
  [objects_->view detachMascotView];
  [objects_->panel orderOut:nil];
}

void MacOSMascotPlatform::attachView(FloatingMascotView& view) {
  view_ = &view;
  objects_->view = [[MacOSMascotView alloc] initWithMascotView:&view];
  objects_->panel =
      [[NSPanel alloc] initWithContentRect:NSMakeRect(0, 0, idleWindowSize, idleWindowSize)
                                 styleMask:kPanelStyle
                                   backing:NSBackingStoreBuffered
                                     defer:NO];
}

void MacOSMascotPlatform::configurePanel() {
  NSPanel* panel = objects_->panel;
  panel.contentView = objects_->view;
  panel.backgroundColor = [NSColor clearColor];
  panel.opaque = NO;
  panel.hasShadow = NO;
  panel.hidesOnDeactivate = NO;  // stays visible while other applications are active
  panel.movable = NO;            // the window server never moves it; the view drags it
  panel.ignoresMouseEvents = NO;
  panel.level = kPanelLevel;
  panel.collectionBehavior = kPanelCollectionBehavior;
}

std::vector<Rect> MacOSMascotPlatform::screens() {
  std::vector<Rect> frames;
  for (NSScreen* screen in [NSScreen screens]) frames.push_back(fromNSRect(screen.frame));
  return frames;
}

std::optional<Rect> MacOSMascotPlatform::mainScreen() {
  NSScreen* screen = [NSScreen mainScreen];
  if (screen == nil) return std::nullopt;
  return fromNSRect(screen.frame);
}

void MacOSMascotPlatform::setPanelFrame(const Rect& frame) {
  const Rect bounds{0, 0, frame.width, frame.height};
  // AppKit redraws inside setFrame:display:, so the core's view takes its new size first.
  if (view_ != nullptr) view_->setFrame(bounds);
  [objects_->panel setFrame:toNSRect(frame) display:YES];
  [objects_->view setFrame:toNSRect(bounds)];  // the view always fills the panel
}

void MacOSMascotPlatform::setPanelOrigin(Point origin) {
  [objects_->panel setFrameOrigin:NSMakePoint(origin.x, origin.y)];
}

Rect MacOSMascotPlatform::panelFrame() {
  if (objects_->panel == nil) return {};
  return fromNSRect(objects_->panel.frame);
}

std::optional<Rect> MacOSMascotPlatform::panelScreen() {
  NSScreen* screen = objects_->panel.screen;
  if (screen == nil) return std::nullopt;
  return fromNSRect(screen.frame);
}

void MacOSMascotPlatform::orderFront() {
  // To the front of its level without activating perch or changing the key window.
  [objects_->panel orderFrontRegardless];
}

void MacOSMascotPlatform::orderOut() { [objects_->panel orderOut:nil]; }

void MacOSMascotPlatform::setNeedsDisplay() { [objects_->view setNeedsDisplay:YES]; }

double MacOSMascotPlatform::now() { return CACurrentMediaTime(); }

std::unique_ptr<RepeatingTimer> MacOSMascotPlatform::scheduleRepeating(double interval,
                                                                       std::function<void()> tick) {
  // On the current (main) run loop, default mode. The core's tick holds the view weakly.
  NSTimer* timer = [NSTimer scheduledTimerWithTimeInterval:interval
                                                   repeats:YES
                                                     block:^(NSTimer*) {
                                                       tick();
                                                     }];
  return std::make_unique<MacOSTimer>(timer);
}

void MacOSMascotPlatform::runAfter(double delay, std::function<void()> work) {
  // Due on GCD's monotonic clock; the core's work holds the view weakly and checks its generation.
  const auto nanoseconds = static_cast<int64_t>(delay * NSEC_PER_SEC);
  dispatch_after(dispatch_time(DISPATCH_TIME_NOW, nanoseconds), dispatch_get_main_queue(), ^{
    work();
  });
}

Point MacOSMascotPlatform::mouseLocation() {
  // Where the pointer is now, not where the event being handled happened.
  const NSPoint p = [NSEvent mouseLocation];
  return {p.x, p.y};
}

void MacOSMascotPlatform::setCursor(Cursor cursor) {
  switch (cursor) {
    case Cursor::pointingHand:
      [[NSCursor pointingHandCursor] set];
      return;
    case Cursor::closedHand:
      [[NSCursor closedHandCursor] set];
      return;
    case Cursor::arrow:
      break;
  }
  [[NSCursor arrowCursor] set];
}

void MacOSMascotPlatform::openURL(std::string_view url) {
  NSString* text = [[NSString alloc] initWithBytes:url.data()
                                            length:url.size()
                                          encoding:NSUTF8StringEncoding];
  NSURL* link = text != nil ? [NSURL URLWithString:text] : nil;
  if (link == nil) return;                       // not a URL: nothing to open
  [[NSWorkspace sharedWorkspace] openURL:link];  // whether it opened is not looked at
}

std::unique_ptr<CanvasImage> MacOSMascotPlatform::loadImage(const std::string& path) {
  return loadMacOSImage(path);
}

void MacOSMascotPlatform::writeLine(std::string_view line) {
  const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                       std::fputc('\n', stdout) != EOF;
  // The host closed our standard output: nobody reads the lines any more, so the run ends with
  // status 0, as every run of perch does.
  if (std::fflush(stdout) != 0 || !written) std::exit(0);
}

void MacOSMascotPlatform::terminate() {
  terminated_ = true;
  [NSApp terminate:nil];  // ends the process with status 0
}

}  // namespace perch
