// x11-screenshot: saves the whole X screen ($DISPLAY) as a PNG.
#include <cstdio>
#include <cstdlib>

#include "x_window_probe.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: x11-screenshot FILE.png\n");
    return 2;
  }
  const char* display = std::getenv("DISPLAY");
  e2e::XWindowProbe probe(display ? display : "");
  if (probe.display() == nullptr || !probe.saveScreenshot(argv[1])) {
    std::fprintf(stderr, "x11-screenshot: cannot read the screen of \"%s\"\n",
                 display ? display : "");
    return 1;
  }
  return 0;
}
