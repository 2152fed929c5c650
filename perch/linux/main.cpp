// perch: the floating mascot. Reads one JSON command per line on standard input and writes one
// JSON event per line on standard output.
#include <malloc.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "command_hand_off.h"
#include "drawing_library.h"
#include "floating_mascot_controller.h"
#include "quiet_stderr.h"
#include "x11_mascot_platform.h"

int main(int argc, char** argv) {
  quiet_stderr::silenceWithGLib();
  // One malloc arena for the whole process. The reader thread and the short threads pango starts
  // for fontconfig would each get an arena of their own, holding fontconfig's configuration and
  // little else past start-up; none of them allocates often enough to contend for the lock.
  mallopt(M_ARENA_MAX, 1);
  // A closed pipe is noticed as a failed write and ends the run quietly, not as a signal.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> arguments(argv, argv + argc);

  // Without its drawing library perch could show nothing: it is not ready, and says so by ending.
  if (!perch::drawingLibraryPresent()) return 1;
  const std::unique_ptr<perch::X11MascotPlatform> opened = perch::X11MascotPlatform::open();
  if (opened == nullptr) return 0;  // no display to show the mascot on
  perch::X11MascotPlatform& platform = *opened;
  perch::FloatingMascotController controller(platform, perch::parseAvatarPath(arguments));
  if (platform.failed()) return 1;  // the library is there but would not open (for the avatar)
  platform.attachView(controller.mascotView());

  controller.applicationDidFinishLaunching();
  platform.prepareDrawing();
  perch::CommandHandOff commands(
      STDIN_FILENO,
      [&](const perch::MascotCommand& command) {
        // After "quit" nothing queued behind it is carried out.
        if (!platform.terminated()) controller.dispatch(command);
      },
      [&] { platform.terminate(); });
  platform.run();
  return platform.failed() ? 1 : 0;
}
