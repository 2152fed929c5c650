#include "macos_monitor_platform.h"

#import <ApplicationServices/ApplicationServices.h>
#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>
#import <IOKit/hid/IOHIDKeys.h>
#import <IOKit/hid/IOHIDManager.h>
#import <IOKit/hid/IOHIDUsageTables.h>

#import <IOKit/hidsystem/IOLLEvent.h>

namespace vigil {
namespace {

// Key down, key up and flags changed: bits 10, 11 and 12.
constexpr CGEventMask kTapEventMask = CGEventMaskBit(kCGEventKeyDown) |
                                      CGEventMaskBit(kCGEventKeyUp) |
                                      CGEventMaskBit(kCGEventFlagsChanged);
static_assert(kTapEventMask == 0x1C00);

// The monitor's numbers are Quartz's own: the backend hands event types and flags on unchanged.
static_assert(EventType::keyDown == kCGEventKeyDown && EventType::keyUp == kCGEventKeyUp &&
              EventType::flagsChanged == kCGEventFlagsChanged &&
              EventType::tapDisabledByTimeout == kCGEventTapDisabledByTimeout &&
              EventType::tapDisabledByUserInput == kCGEventTapDisabledByUserInput);
static_assert(ModifierFlag::shift == kCGEventFlagMaskShift &&
              ModifierFlag::control == kCGEventFlagMaskControl &&
              ModifierFlag::alternate == kCGEventFlagMaskAlternate &&
              ModifierFlag::command == kCGEventFlagMaskCommand &&
              ModifierFlag::secondaryFn == kCGEventFlagMaskSecondaryFn);
static_assert(ModifierFlag::leftControl == NX_DEVICELCTLKEYMASK &&
              ModifierFlag::leftShift == NX_DEVICELSHIFTKEYMASK &&
              ModifierFlag::rightShift == NX_DEVICERSHIFTKEYMASK &&
              ModifierFlag::leftCommand == NX_DEVICELCMDKEYMASK &&
              ModifierFlag::rightCommand == NX_DEVICERCMDKEYMASK &&
              ModifierFlag::leftAlternate == NX_DEVICELALTKEYMASK &&
              ModifierFlag::rightAlternate == NX_DEVICERALTKEYMASK &&
              ModifierFlag::rightControl == NX_DEVICERCTLKEYMASK);

PlatformFacts macosFacts() {
  PlatformFacts facts;
  facts.capability = CapabilityEvent{"macos", true, true, true};
  facts.permissionRequiredMessage = "Accessibility permission is required for modifier monitoring.";
  facts.tapUnavailableMessage = "CGEvent tap unavailable.";
  facts.tapNotRestoredMessage = "CGEvent tap was disabled and could not be restored.";
  return facts;
}

// Core Foundation objects held through the seam give up their one reference when dropped.
PlatformRef adoptCFObject(CFTypeRef object) {
  if (object == nullptr) return nullptr;
  return PlatformRef(const_cast<void*>(object), [](void* held) { CFRelease(held); });
}

// The system calls this for every event of the mask and for tap-disabled notices. `userInfo` is
// the monitor, not owned. The event always goes on unchanged: the tap only watches.
CGEventRef onTapEvent(CGEventTapProxy, CGEventType type, CGEventRef event, void* userInfo) {
  if (userInfo == nullptr) return event;
  KeyEvent keyEvent;
  if (event != nullptr) {
    keyEvent.keyCode = CGEventGetIntegerValueField(event, kCGKeyboardEventKeycode);
    keyEvent.flags = CGEventGetFlags(event);  // shared and device-dependent side bits alike
  }
  deliverTapEvent(userInfo, type, keyEvent);
  return event;
}

}  // namespace

MacOSMonitorPlatform::MacOSMonitorPlatform() : facts_(macosFacts()) {}

bool MacOSMonitorPlatform::isProcessTrusted(bool prompt) {
  // The prompt key is always present: false asks the system not to show its prompt.
  NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @(prompt)};
  return AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
}

TapCreation MacOSMonitorPlatform::createEventTap(HotkeyMonitor& monitor) {
  CFMachPortRef port =
      CGEventTapCreate(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                       kTapEventMask, &onTapEvent, &monitor);
  if (port == nullptr) return {nullptr, "Unable to create CGEvent tap."};
  return {adoptCFObject(port), {}};
}

PlatformRef MacOSMonitorPlatform::createRunLoopSource(const PlatformRef& tap) {
  auto port = static_cast<CFMachPortRef>(tap.get());
  return adoptCFObject(CFMachPortCreateRunLoopSource(kCFAllocatorDefault, port, 0));
}

void MacOSMonitorPlatform::addRunLoopSource(const PlatformRef& source) {
  CFRunLoopAddSource(CFRunLoopGetCurrent(), static_cast<CFRunLoopSourceRef>(source.get()),
                     kCFRunLoopCommonModes);
}

void MacOSMonitorPlatform::enableTap(const PlatformRef& tap, bool enable) {
  CGEventTapEnable(static_cast<CFMachPortRef>(tap.get()), enable);
}

void MacOSMonitorPlatform::observeKeyboardDevices() {
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

void MacOSMonitorPlatform::runLoop() {
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
