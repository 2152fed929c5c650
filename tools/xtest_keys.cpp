// xtest-keys: injects physical key presses into an X server by key code.
//   xtest-keys [--delay MS] press:CODE | release:CODE | tap:CODE ...
// Each step is one XTest event (a tap is a press and a release); MS milliseconds pass between
// steps. Unlike keysym-based tools, nothing is pressed twice or through another key.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "xtest-keys: cannot open display \"%s\"\n", XDisplayName(nullptr));
    return 1;
  }
  int delayMs = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--delay" && i + 1 < argc) {
      delayMs = std::atoi(argv[++i]);
      continue;
    }
    auto colon = arg.find(':');
    if (colon == std::string::npos) {
      std::fprintf(stderr, "xtest-keys: expected press:CODE, release:CODE or tap:CODE, got %s\n",
                   arg.c_str());
      return 2;
    }
    std::string action = arg.substr(0, colon);
    unsigned code = static_cast<unsigned>(std::strtoul(arg.c_str() + colon + 1, nullptr, 10));
    if (action == "press" || action == "tap") XTestFakeKeyEvent(display, code, True, CurrentTime);
    if (action == "release" || action == "tap")
      XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
    if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
  }
  XCloseDisplay(display);
  return 0;
}
