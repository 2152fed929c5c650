// The connection: opening the display, its extensions and event routing to the area that
// handles each event; the host-facing calls that need no window (links, images, event lines).
#include "x11_mascot_platform.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <utility>

#include "xwayland.h"

extern char** environ;

namespace perch {

X11MascotPlatform::X11MascotPlatform() {
  x11_support::quietXErrors();
  display_ = XOpenDisplay(nullptr);
  if (display_ == nullptr) return;
  XSetIOErrorExitHandler(display_, &X11MascotPlatform::onConnectionLost, this);
  root_ = DefaultRootWindow(display_);

  int error = 0;
  if (XRRQueryExtension(display_, &randrEvent_, &error)) {
    XRRSelectInput(display_, root_,
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
  } else {
    randrEvent_ = -1;
  }
  // Other windows mapping or restacking over the panel: it is raised again. The root's own
  // ConfigureNotify also comes when monitors are redefined (RandR 1.5 sends no event of its own).
  // Its property changes carry the resource database (xrdb), which holds the desktop's scale.
  XSelectInput(display_, root_, SubstructureNotifyMask | StructureNotifyMask | PropertyChangeMask);
  watchCompositor();
  watchScale();
  xwayland_ = x11_support::isXwayland(display_);
  readScreens();
  createWindow();

  startMainLoop();
}

X11MascotPlatform::~X11MascotPlatform() {
  if (display_ == nullptr) return;
  for (guint id : {outputWatch_, redrawIdle_, drawingIdle_, raiseTimer_}) {
    if (id != 0) g_source_remove(id);
  }
  xSource_.reset();
  g_main_loop_unref(loop_);
  upload_.reset();
  for (auto& [kind, cursor] : cursors_) XFreeCursor(display_, cursor);
  XDestroyWindow(display_, window_);
  if (colormap_ != 0) XFreeColormap(display_, colormap_);
  XCloseDisplay(display_);
}

void X11MascotPlatform::handleEvent(XEvent& event) {
  if (fixesEvent_ >= 0 && event.type == fixesEvent_ + XFixesSelectionNotify) {
    if (reinterpret_cast<XFixesSelectionNotifyEvent&>(event).selection == settingsSelection_) {
      scaleMayHaveChanged();
      return;
    }
    readCompositor();
    setNeedsDisplay();
    return;
  }
  if (randrEvent_ >= 0 &&
      (event.type == randrEvent_ + RRScreenChangeNotify || event.type == randrEvent_ + RRNotify)) {
    XRRUpdateConfiguration(&event);
    readScreens();
    return;
  }
  switch (event.type) {
    case Expose: {
      // Exposures come from our own reshaping too: they show the picture already drawn rather
      // than drawing (and reshaping) again, and not at all when pixels sent after the server
      // raised them cover them (the reshape of each frame goes out just before its picture, and
      // during a feedback only the part that changed is reshaped and sent).
      const XExposeEvent& e = event.xexpose;
      const PixelRect& sent = lastPutArea_;
      const bool coveredSince =
          e.serial < lastWholePutSerial_ ||
          (e.serial < lastPutSerial_ && e.x >= sent.x && e.y >= sent.y &&
           e.x + e.width <= sent.x + sent.width && e.y + e.height <= sent.y + sent.height);
      if (!coveredSince) exposedUnshown_ = true;
      if (e.count == 0 && std::exchange(exposedUnshown_, false)) showPicture();
      break;
    }
    case ButtonPress:
    case ButtonRelease:
    case MotionNotify:
    case EnterNotify:
    case LeaveNotify:
      if (event.xany.window == window_) handlePointer(event);
      break;
    case MapNotify:
      if (event.xmap.window != window_) keepOnTop();
      break;
    case ConfigureNotify:
      if (event.xconfigure.window == root_) {
        readScreens();
      } else if (event.xconfigure.window != window_) {
        keepOnTop();
      }
      break;
    case PropertyNotify:
      if ((event.xproperty.window == root_ && event.xproperty.atom == resourceManagerAtom_) ||
          (event.xproperty.window == settingsOwner_ && event.xproperty.atom == settingsAtom_)) {
        scaleMayHaveChanged();
      }
      break;
    case CirculateNotify:
      if (event.xcirculate.window != window_) keepOnTop();
      break;
    default:
      break;
  }
}

void X11MascotPlatform::openURL(std::string_view url) {
  // Never through a shell, never waited for; its output must not reach our standard output,
  // which carries event lines only.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);  // ignored here; the child gets the default back
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  std::string link(url);
  char program[] = "xdg-open";
  char* argv[] = {program, link.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", &actions, &attributes, argv, environ) == 0) {
    // Reaped when it ends, so no zombie is left; its outcome is not looked at.
    g_child_watch_add(
        pid, [](GPid child, gint, gpointer) { g_spawn_close_pid(child); }, nullptr);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

std::unique_ptr<CanvasImage> X11MascotPlatform::loadImage(const std::string& path) {
  PanelDrawing* drawing = this->drawing();
  return drawing != nullptr ? drawing->loadImage(path) : nullptr;
}

void X11MascotPlatform::writeLine(std::string_view line) {
  const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                       std::fputc('\n', stdout) != EOF;
  if (std::fflush(stdout) != 0 || !written) terminate();  // the host stopped listening
}

}  // namespace perch
