#include "macos_monitor_platform.h"

#import <ApplicationServices/ApplicationServices.h>
#import <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>
#import <IOKit/hid/IOHIDKeys.h>
#import <IOKit/hid/IOHIDManager.h>
#import <IOKit/hid/IOHIDUsageTables.h>

#include <cstdlib>

#include "line_writer.h"

namespace vigil {
namespace {

// Key down, key up and flags changed: bits 10, 11 and 12.
constexpr CGEventMask kTapEventMask = CGEventMaskBit(kCGEventKeyDown) |
                                      CGEventMaskBit(kCGEventKeyUp) |
                                      CGEventMaskBit(kCGEventFlagsChanged);
static_assert(kTapEventMask == 0x1C00);

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

void MacOSMonitorPlatform::runLoop() { [[NSRunLoop currentRunLoop] run]; }

void MacOSMonitorPlatform::writeLine(std::string_view line) {
  // The host closed our standard output: nobody reads the lines any more, so the run ends with
  // status 0, as every run of vigil does.
  if (!writeLineToStdout(line)) std::exit(0);
}

}  // namespace vigil
