// perch: the floating mascot, an accessory AppKit application. Reads one JSON command per line on
// standard input and writes one JSON event per line on standard output.
#import <AppKit/AppKit.h>
#include <dispatch/dispatch.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "command_reader.h"
#include "floating_mascot_controller.h"
#include "macos_mascot_platform.h"

// Hands AppKit's launch to the core, then reads the host's commands off the main thread.
@interface MacOSMascotAppDelegate : NSObject <NSApplicationDelegate>
- (instancetype)initWithPlatform:(perch::MacOSMascotPlatform*)platform
                      controller:(perch::FloatingMascotController*)controller;
@end

@implementation MacOSMascotAppDelegate {
  perch::MacOSMascotPlatform* _platform;         // not owned; lives for the whole run
  perch::FloatingMascotController* _controller;  // likewise
  id<NSObject> _activity;                        // held for the whole run
}

- (instancetype)initWithPlatform:(perch::MacOSMascotPlatform*)platform
                      controller:(perch::FloatingMascotController*)controller {
  self = [super init];
  if (self == nil) return nil;
  _platform = platform;
  _controller = controller;
  return self;
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
  // While the panel is hidden an accessory application with no window on the screen would be
  // napped: its timers late, the 3-second completion with them, and commands slow to arrive.
  _activity = [[NSProcessInfo processInfo]
      beginActivityWithOptions:NSActivityUserInitiatedAllowingIdleSystemSleep
                        reason:@"The host drives the mascot at any time"];
  _platform->configurePanel();
  _controller->applicationDidFinishLaunching();  // takes the panel off the screen, then "ready"
  [self readCommands];
}

// perch keeps no state between runs; saying so also keeps macOS 14 and later from warning on
// standard error at launch.
- (BOOL)applicationSupportsSecureRestorableState:(NSApplication*)app {
  return YES;
}

// One long-running work item on the user-initiated global queue reads standard input; each
// command is copied to the main queue, and the end of input is posted behind them, so that every
// command read before it is carried out first. The reader never waits for the main thread.
- (void)readCommands {
  __weak MacOSMascotAppDelegate* weakSelf = self;
  dispatch_async(dispatch_get_global_queue(QOS_CLASS_USER_INITIATED, 0), ^{
    perch::readCommands(
        STDIN_FILENO,
        [weakSelf](perch::MascotCommand command) {
          dispatch_async(dispatch_get_main_queue(), ^{
            [weakSelf carryOut:command];
          });
        },
        [weakSelf] {
          dispatch_async(dispatch_get_main_queue(), ^{
            [weakSelf inputEnded];
          });
        });
  });
}

- (void)carryOut:(const perch::MascotCommand&)command {
  if (_platform->terminated()) return;  // nothing queued behind "quit" is carried out
  _controller->dispatch(command);
}

- (void)inputEnded {
  _platform->terminate();
}

@end

int main(int argc, char** argv) {
  // A closed pipe is noticed as a failed write and ends the run quietly, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  @autoreleasepool {
    const std::vector<std::string> arguments(argv, argv + argc);
    NSApplication* app = [NSApplication sharedApplication];
    perch::MacOSMascotPlatform platform;
    perch::FloatingMascotController controller(platform, perch::parseAvatarPath(arguments));
    platform.attachView(controller.mascotView());
    // No Dock icon and no menu bar.
    [app setActivationPolicy:NSApplicationActivationPolicyAccessory];
    MacOSMascotAppDelegate* delegate =
        [[MacOSMascotAppDelegate alloc] initWithPlatform:&platform controller:&controller];
    app.delegate = delegate;  // held weakly by AppKit; this scope keeps it for the whole run
    [app run];
  }
  return 0;
}
