#include "macos_monitor_platform.h"

#import <ApplicationServices/ApplicationServices.h>
#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>
#import <IOKit/hid/IOHIDKeys.h>
#import <IOKit/hid/IOHIDManager.h>
#import <IOKit/hid/IOHIDUsageTables.h>

#import <IOKit/hidsystem/IOLLEvent.h>

#include "quartz_keys.h"

namespace vigil {
namespace {

// Key down, key up and flags changed: bits 10, 11 and 12.
constexpr CGEventMask kTapEventMask = CGEventMaskBit(kCGEventKeyDown) |
                                      CGEventMaskBit(kCGEventKeyUp) |
                                      CGEventMaskBit(kCGEventFlagsChanged);
static_assert(kTapEventMask == 0x1C00);

// The tap's numbers as the portable decoding spells them.
static_assert(QuartzEventType::keyDown == kCGEventKeyDown &&
              QuartzEventType::keyUp == kCGEventKeyUp &&
              QuartzEventType::flagsChanged == kCGEventFlagsChanged &&
              QuartzEventType::tapDisabledByTimeout == kCGEventTapDisabledByTimeout &&
              QuartzEventType::tapDisabledByUserInput == kCGEventTapDisabledByUserInput);
static_assert(QuartzFlag::shift == kCGEventFlagMaskShift &&
              QuartzFlag::control == kCGEventFlagMaskControl &&
              QuartzFlag::alternate == kCGEventFlagMaskAlternate &&
              QuartzFlag::command == kCGEventFlagMaskCommand &&
              QuartzFlag::secondaryFn == kCGEventFlagMaskSecondaryFn);
static_assert(QuartzFlag::leftControl == NX_DEVICELCTLKEYMASK &&
              QuartzFlag::leftShift == NX_DEVICELSHIFTKEYMASK &&
              QuartzFlag::rightShift == NX_DEVICERSHIFTKEYMASK &&
              QuartzFlag::leftCommand == NX_DEVICELCMDKEYMASK &&
              QuartzFlag::rightCommand == NX_DEVICERCMDKEYMASK &&
              QuartzFlag::leftAlternate == NX_DEVICELALTKEYMASK &&
              QuartzFlag::rightAlternate == NX_DEVICERALTKEYMASK &&
              QuartzFlag::rightControl == NX_DEVICERCTLKEYMASK);

PlatformFacts macosFacts() {
  PlatformFacts facts;
  facts.capability = CapabilityEvent{"macos", true, true, true};
  facts.permissionRequiredMessage = "Accessibility permission is required for modifier monitoring.";
  facts.sourceUnavailableMessage = "CGEvent tap unavailable.";
  facts.sourceNotRestoredMessage = "CGEvent tap was disabled and could not be restored.";
  return facts;
}

// The system calls this for every event of the mask and for tap-disabled notices. `userInfo` is
// the monitor, not owned. The event always goes on unchanged: the tap only watches.
CGEventRef onTapEvent(CGEventTapProxy, CGEventType type, CGEventRef event, void* userInfo) {
  std::int64_t keyCode = -1;
  std::uint64_t flags = 0;
  if (event != nullptr) {
    keyCode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
    flags = CGEventGetFlags(event);  // shared and device-dependent side bits alike
  }
  deliverQuartzEvent(static_cast<HotkeyMonitor*>(userInfo), type, keyCode, flags);
  return event;
}

}  // namespace

MacOSMonitorPlatform::MacOSMonitorPlatform() : facts_(macosFacts()) {}

KeySourceOpening MacOSMonitorPlatform::openKeySource(HotkeyMonitor& monitor, bool prompt) {
  KeySourceOpening opening;
  // The prompt key is always present: false asks the system not to show its prompt.
  NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @(prompt)};
  opening.permitted = AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);

  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       kTapEventMask, &onTapEvent, &monitor);
  if (port == nullptr) {
    opening.failure = "Unable to create CGEvent tap.";
    return opening;
  }
  tap_ = adoptCFObject(port);
  runLoopSource_ = adoptCFObject(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0));
  if (!runLoopSource_) {
    opening.delivering = false;
    return opening;
  }
  CFRunLoopAddSource(CFRunLoopGetCurrent(), static_cast<CFRunLoopSourceRef>(runLoopSource_.get()),
                     kCFRunLoopCommonModes);
  CGEventTapEnable(port, true);
  return opening;
}

void MacOSMonitorPlatform::resumeKeySource() {
  if (tap_) CGEventTapEnable(static_cast<CFMachPortRef>(tap_.get()), true);
}

namespace {

void observeKeyboards() {
  IOHIDManagerRef manager = IOHIDManagerCreate(kCFAllocatorDefault, kIOHIDOptionsTypeNone);
  if (manager == nullptr) return;
  // Generic Desktop page, Keyboard usage. No callback: the outcome is not looked at.
  NSDictionary* matching = @{
    @kIOHIDDeviceUsagePageKey : @(kHIDPage_GenericDesktop),
    @kIOHIDDeviceUsageKey : @(kHIDUsage_GD_Keyboard),
  };
  IOHIDManagerSetDeviceMatching(manager, (__bridge CFDictionaryRef)matching);
  IOHIDManagerScheduleWithRunLoop(manager, CFRunLoopGetCurrent(), kCFRunLoopCommonModes);
  IOHIDManagerOpen(manager, kIOHIDOptionsTypeNone);
  CFRelease(manager);
}

}  // namespace

void MacOSMonitorPlatform::run() {
  observeKeyboards();
  // The tap sits in the system's input path: the process must not be napped or have its
  // wake-ups coalesced while it runs, or every keystroke would wait on it.
  NSActivityOptions options =
      NSActivityUserInitiatedAllowingIdleSystemSleep | NSActivityLatencyCritical;
  id<NSObject> activity =
      [[NSProcessInfo processInfo] beginActivityWithOptions:options
                                                     reason:@"Watching the modifier keys"];
  [[NSRunLoop currentRunLoop] run];
  [[NSProcessInfo processInfo] endActivity:activity];
}

void MacOSMonitorPlatform::writeLine(std::string_view line) { output_.writeLine(line); }

}  // namespace vigil
