// The panel's one NSView: hands AppKit's pointer events, cursor requests and drawing to the core's
// FloatingMascotView. Not flipped, so its coordinates are the core's view coordinates (origin at
// the bottom-left, y up, points). Layer-backed with a clear background: what the core does not
// paint stays transparent.
#pragma once

#import <AppKit/AppKit.h>

#include "floating_mascot_view.h"

@interface MacOSMascotView : NSView

// A view of the idle size over `mascotView`, which it does not own.
- (instancetype)initWithMascotView:(perch::FloatingMascotView*)mascotView;

// Forgets the core's view: from then on events and drawing do nothing.
- (void)detachMascotView;

@end
