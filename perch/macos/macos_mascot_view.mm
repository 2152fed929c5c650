#import "macos_mascot_view.h"

#include "macos_canvas.h"
#include "mascot_constants.h"

namespace {

// Entered and exited, cursor updates, whether or not the panel is key or perch is active.
constexpr NSTrackingAreaOptions kTrackingOptions =
    NSTrackingMouseEnteredAndExited | NSTrackingCursorUpdate | NSTrackingActiveAlways;
static_assert(kTrackingOptions == 0x85);

NSRect toNSRect(const perch::Rect& r) { return NSMakeRect(r.x, r.y, r.width, r.height); }

}  // namespace

@implementation MacOSMascotView {
  perch::FloatingMascotView* _mascotView;  // not owned
  NSTrackingArea* _trackingArea;
}

- (instancetype)initWithMascotView:(perch::FloatingMascotView*)mascotView {
  self = [super initWithFrame:NSMakeRect(0, 0, perch::idleWindowSize, perch::idleWindowSize)];
  if (self == nil) return nil;
  _mascotView = mascotView;
  self.wantsLayer = YES;
  if (self.layer != nil) self.layer.backgroundColor = [NSColor clearColor].CGColor;
  return self;
}

- (void)detachMascotView {
  _mascotView = nullptr;
}

- (BOOL)acceptsFirstResponder {
  return YES;
}

// The pointer's place in this view, from where the event happened in the window.
- (perch::Point)viewLocationOf:(NSEvent*)event {
  const NSPoint p = [self convertPoint:event.locationInWindow fromView:nil];
  return {p.x, p.y};
}

- (NSRect)hitArea {
  return _mascotView != nullptr ? toNSRect(_mascotView->hitArea()) : NSZeroRect;
}

- (void)updateTrackingAreas {
  if (_trackingArea != nil) [self removeTrackingArea:_trackingArea];
  NSTrackingArea* area = [[NSTrackingArea alloc] initWithRect:[self hitArea]
                                                      options:kTrackingOptions
                                                        owner:self
                                                     userInfo:nil];
  [self addTrackingArea:area];
  _trackingArea = area;
  [super updateTrackingAreas];
}

// One rectangle, the hit area, with the pointing hand; the inherited rectangles are not wanted.
- (void)resetCursorRects {
  [self addCursorRect:[self hitArea] cursor:[NSCursor pointingHandCursor]];
}

// The next three only set the cursor, through the core; the event goes no further.
- (void)cursorUpdate:(NSEvent*)event {
  if (_mascotView != nullptr) _mascotView->cursorUpdate();
}

- (void)mouseEntered:(NSEvent*)event {
  if (_mascotView != nullptr) _mascotView->mouseEntered();
}

- (void)mouseExited:(NSEvent*)event {
  if (_mascotView != nullptr) _mascotView->mouseExited();
}

- (void)drawRect:(NSRect)dirtyRect {
  // The clear colour with the context's own operation: under the default source-over this keeps
  // the pixels AppKit handed over; an operation such as copy would clear them.
  NSGraphicsContext* context = [NSGraphicsContext currentContext];
  [[NSColor clearColor] setFill];
  NSRectFillUsingOperation(
      dirtyRect, context != nil ? context.compositingOperation : NSCompositingOperationSourceOver);
  if (_mascotView == nullptr) return;
  perch::MacOSCanvas canvas;
  _mascotView->draw(canvas);
}

// Pointer presses never travel further up the responder chain.
- (void)mouseDown:(NSEvent*)event {
  if (_mascotView != nullptr) _mascotView->mouseDown([self viewLocationOf:event]);
}

- (void)mouseDragged:(NSEvent*)event {
  // The core reads the pointer's current screen position itself.
  if (_mascotView != nullptr) _mascotView->mouseDragged();
}

- (void)mouseUp:(NSEvent*)event {
  if (_mascotView != nullptr) _mascotView->mouseUp([self viewLocationOf:event]);
}

@end
