// perch_frame_floor: the least CPU a program can spend animating a window of perch's size at
// 60 Hz on X, the floor for perch's CPU over a feedback. It maps a window of the given pixels,
// and on each tick of a GLib timer for the given seconds reads its events, writes every pixel of
// a frame in shared memory once and puts the frame (as perch does, but without drawing anything).
// Prints the share of one core it used, in percent, on one line. perch_bench prints the figure
// beside perch's.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <glib.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Animation {
  Display* display;
  Window window;
  GC gc;
  XImage* image;
  int frames = 0;
  int framesWanted = 0;
  GMainLoop* loop = nullptr;
};

gboolean tick(gpointer data) {
  auto* a = static_cast<Animation*>(data);
  while (XPending(a->display) > 0) {
    XEvent event;
    XNextEvent(a->display, &event);
  }
  std::memset(a->image->data, a->frames & 0xff,
              static_cast<size_t>(a->image->bytes_per_line) * a->image->height);
  XShmPutImage(a->display, a->window, a->gc, a->image, 0, 0, 0, 0,
               static_cast<unsigned>(a->image->width), static_cast<unsigned>(a->image->height),
               True);
  XFlush(a->display);
  if (++a->frames < a->framesWanted) return G_SOURCE_CONTINUE;
  g_main_loop_quit(a->loop);
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: perch_frame_floor WIDTH HEIGHT SECONDS\n");
    return 2;
  }
  const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
  const double seconds = std::atof(argv[3]);
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr || width <= 0 || height <= 0 || !XShmQueryExtension(display)) return 1;
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  const Window window =
      XCreateWindow(display, DefaultRootWindow(display), 100, 100, static_cast<unsigned>(width),
                    static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                    CWOverrideRedirect, &attributes);
  XMapWindow(display, window);
  XShmSegmentInfo shm{};
  XImage* image =
      XShmCreateImage(display, DefaultVisual(display, DefaultScreen(display)),
                      static_cast<unsigned>(DefaultDepth(display, DefaultScreen(display))), ZPixmap,
                      nullptr, &shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
  if (image == nullptr) return 1;
  shm.shmid =
      shmget(IPC_PRIVATE, static_cast<size_t>(image->bytes_per_line) * height, IPC_CREAT | 0600);
  if (shm.shmid < 0) return 1;
  shm.shmaddr = image->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
  shm.readOnly = True;
  XShmAttach(display, &shm);
  XSync(display, False);
  shmctl(shm.shmid, IPC_RMID, nullptr);

  Animation a{display, window, XCreateGC(display, window, 0, nullptr), image};
  a.framesWanted = static_cast<int>(seconds * 60);
  a.loop = g_main_loop_new(nullptr, FALSE);
  const double before = cpuSeconds();
  const gint64 began = g_get_monotonic_time();
  g_timeout_add(1000 / 60, tick, &a);
  g_main_loop_run(a.loop);
  const double used = cpuSeconds() - before;
  const double elapsed = static_cast<double>(g_get_monotonic_time() - began) / 1e6;
  // As a share of one core at 60 frames a second (the timer's whole milliseconds run it a little
  // faster).
  std::printf("%.2f\n", 100 * used / elapsed * 60 / (a.frames / elapsed));

  g_main_loop_unref(a.loop);
  XShmDetach(display, &shm);
  XSync(display, False);
  shmdt(shm.shmaddr);
  image->data = nullptr;
  XDestroyImage(image);
  XFreeGC(display, a.gc);
  XCloseDisplay(display);
  return 0;
}
