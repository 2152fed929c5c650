// The platform: its parts put together, the events routed to them; the host-facing calls that
// need no window (links, images, event lines).
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

extern char** environ;

namespace perch {

std::unique_ptr<X11MascotPlatform> X11MascotPlatform::open() {
  x11_support::quietXErrors();
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return nullptr;
  return std::unique_ptr<X11MascotPlatform>(new X11MascotPlatform(display));
}

X11MascotPlatform::X11MascotPlatform(Display* display)
    : connection_(display, [this](XEvent& event) { handleEvent(event); }),
      screens_(connection_, frame_),
      panel_(connection_, screens_, frame_),
      picture_(connection_, panel_, screens_, loop_),
      pointer_(connection_, screens_, panel_, [this](bool wide) { widen(wide); }) {}

void X11MascotPlatform::attachView(FloatingMascotView& view) {
  view_ = &view;
  picture_.attachView(view);
  pointer_.attachView(view);
}

void X11MascotPlatform::handleEvent(XEvent& event) {
  const int fixesEvent = connection_.fixesEvent(), randrEvent = connection_.randrEvent();
  if (fixesEvent >= 0 && event.type == fixesEvent + XFixesSelectionNotify) {
    if (screens_.isSettingsSelection(
            reinterpret_cast<XFixesSelectionNotifyEvent&>(event).selection)) {
      scaleMayHaveChanged();
      return;
    }
    panel_.readCompositor();
    setNeedsDisplay();
    return;
  }
  if (randrEvent >= 0 &&
      (event.type == randrEvent + RRScreenChangeNotify || event.type == randrEvent + RRNotify)) {
    XRRUpdateConfiguration(&event);
    readScreens();
    return;
  }
  switch (event.type) {
    case Expose:
      picture_.exposed(event.xexpose);
      break;
    case ButtonPress:
    case ButtonRelease:
    case MotionNotify:
    case EnterNotify:
    case LeaveNotify:
      if (event.xany.window == panel_.id()) pointer_.handle(event);
      break;
    case MapNotify:
      if (event.xmap.window != panel_.id()) panel_.keepOnTop();
      break;
    case ConfigureNotify:
      if (event.xconfigure.window == connection_.root()) {
        readScreens();
      } else if (event.xconfigure.window != panel_.id()) {
        panel_.keepOnTop();
      }
      break;
    case PropertyNotify:
      if (screens_.isScaleProperty(event.xproperty)) scaleMayHaveChanged();
      break;
    case CirculateNotify:
      if (event.xcirculate.window != panel_.id()) panel_.keepOnTop();
      break;
    default:
      break;
  }
}

void X11MascotPlatform::readScreens() {
  screens_.read();
  // The part of the panel on the screens may have changed with them.
  setNeedsDisplay();
}

void X11MascotPlatform::scaleMayHaveChanged() {
  if (!screens_.scaleChanged()) return;
  // A press under way measured its pointer in the old points: it ends here, a drag where it took
  // the panel.
  pointer_.reset();
  readScreens();  // the screens in the new points
  // The panel is placed again from the host's corner, in the new points: where the next "show"
  // would put it.
  if (view_ != nullptr) view_->screensChanged();
  setNeedsDisplay();
}

void X11MascotPlatform::widen(bool wide) {
  // The new size goes out with its picture and shapes.
  if (panel_.widen(wide)) setNeedsDisplay();
}

std::optional<Rect> X11MascotPlatform::mainScreen() {
  if (screens_.screens().empty()) return std::nullopt;
  return screens_.screens().front();
}

// A move goes out at once. A resize waits for the picture and shape drawn for the new size and
// goes out right after that shape (see X11PanelPicture::redraw()), so the server never pairs a new
// size with an old shape. The same holds when the part of the panel on the screens changes: a new
// picture first.
void X11MascotPlatform::setPanelFrame(const Rect& frame) {
  frame_ = frame;
  const ShownPart part = panel_.wantedPart();
  const ShownPart& shown = panel_.shown();
  if (part.window.width == shown.window.width && part.window.height == shown.window.height &&
      part.offsetX == shown.offsetX && part.offsetY == shown.offsetY &&
      part.panelHeight == shown.panelHeight) {
    panel_.applyGeometry();
  }
  setNeedsDisplay();
}

void X11MascotPlatform::setPanelOrigin(Point origin) {
  frame_.x = origin.x;
  frame_.y = origin.y;
  const ShownPart part = panel_.wantedPart();
  const ShownPart& shown = panel_.shown();
  if (part.window.width == shown.window.width && part.window.height == shown.window.height &&
      part.offsetX == shown.offsetX && part.offsetY == shown.offsetY) {
    panel_.applyGeometry();
    XFlush(connection_.display());
  } else {
    setNeedsDisplay();
  }
}

void X11MascotPlatform::orderFront() {
  const bool mapped = panel_.mapped();
  panel_.orderFront([this] { picture_.redrawWhole(); });
  if (mapped) setNeedsDisplay();
}

void X11MascotPlatform::orderOut() {
  pointer_.reset();  // unmapping breaks the pointer grab: no release would follow
  widen(false);      // shown again, it is narrow until the pointer comes over the button
  panel_.orderOut();
}

std::unique_ptr<RepeatingTimer> X11MascotPlatform::scheduleRepeating(double interval,
                                                                     std::function<void()> tick) {
  return connection_.startTicking(interval, std::move(tick), [this] { picture_.redrawNow(); });
}

void X11MascotPlatform::runAfter(double delay, std::function<void()> work) {
  MainLoop::runAfter(delay, std::move(work));
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
  PanelDrawing* drawing = picture_.drawing();
  return drawing != nullptr ? drawing->loadImage(path) : nullptr;
}

void X11MascotPlatform::writeLine(std::string_view line) {
  const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                       std::fputc('\n', stdout) != EOF;
  if (std::fflush(stdout) != 0 || !written) terminate();  // the host stopped listening
}

}  // namespace perch
