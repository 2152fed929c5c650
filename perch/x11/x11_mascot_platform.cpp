#include "x11_mascot_platform.h"

#include <X11/Xatom.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <cairo-xlib.h>
#include <fcntl.h>
#include <glib-unix.h>
#include <spawn.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cairo_canvas.h"
#include "cairo_image.h"
#include "tick_schedule.h"

extern char** environ;

namespace perch {
namespace {

// Xlib's default handlers print to standard error and exit with status 1; perch stays silent and
// exits with 0, so errors are dealt with where they are seen.
int ignoreXError(Display*, XErrorEvent*) { return 0; }
int quietIOError(Display*) { return 0; }

constexpr gint64 kRaiseIntervalUs = 100 * 1000;  // at most ten raises a second

// Without a compositor a pixel is either shown or not: the window keeps the pixels at least half
// covered. With one, every pixel that is painted at all takes clicks.
constexpr std::uint8_t kShapedMinAlpha = 128;
constexpr std::uint8_t kInputMinAlpha = 1;

guint millis(double seconds) {
  return static_cast<guint>(std::max(0.0, std::ceil(seconds * 1000 - 1e-9)));
}

// A repeating timer on GLib's main loop, due on a fixed grid of microsecond ready times rather
// than in whole milliseconds from the last firing, so that 1/60 s stays 60 ticks a second.
struct GLibTimer final : RepeatingTimer {
  struct Source {
    GSource base;
    GLibTimer* owner;
  };
  GLibTimer(std::function<void()> t, double intervalSeconds)
      : tick(std::move(t)), interval(intervalSeconds) {
    static GSourceFuncs funcs = {nullptr, nullptr, &GLibTimer::dispatch, nullptr, nullptr, nullptr};
    source = g_source_new(&funcs, sizeof(Source));
    reinterpret_cast<Source*>(source)->owner = this;
    due = seconds(g_get_monotonic_time()) + interval;
    arm();
    g_source_attach(source, nullptr);
  }
  ~GLibTimer() override {
    g_source_destroy(source);
    g_source_unref(source);
  }
  static double seconds(gint64 us) { return static_cast<double>(us) / 1e6; }
  void arm() { g_source_set_ready_time(source, static_cast<gint64>(std::ceil(due * 1e6))); }
  static gboolean dispatch(GSource* s, GSourceFunc, gpointer) {
    GLibTimer* self = reinterpret_cast<Source*>(s)->owner;
    self->due = nextTickDue(self->due, seconds(g_get_monotonic_time()), self->interval);
    self->arm();
    self->tick();  // last: the tick may end the timer
    return G_SOURCE_CONTINUE;
  }
  std::function<void()> tick;
  double interval;
  double due = 0;
  GSource* source = nullptr;
};

}  // namespace

struct X11MascotPlatform::XSource {
  GSource base;
  X11MascotPlatform* owner;
  gpointer fdTag;
};

X11MascotPlatform::X11MascotPlatform() {
  XSetErrorHandler(ignoreXError);
  XSetIOErrorHandler(quietIOError);
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
  XSelectInput(display_, root_, SubstructureNotifyMask | StructureNotifyMask);
  readScreens();
  createWindow();
  watchCompositor();

  loop_ = g_main_loop_new(nullptr, FALSE);
  static GSourceFuncs funcs = {&X11MascotPlatform::prepareX,
                               &X11MascotPlatform::checkX,
                               &X11MascotPlatform::dispatchX,
                               nullptr,
                               nullptr,
                               nullptr};
  xSource_ = g_source_new(&funcs, sizeof(XSource));
  auto* xsource = reinterpret_cast<XSource*>(xSource_);
  xsource->owner = this;
  xsource->fdTag = g_source_add_unix_fd(xSource_, ConnectionNumber(display_),
                                        static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR));
  g_source_attach(xSource_, nullptr);
  // The host closing our standard output ends the run: nobody would hear us any more.
  outputWatch_ = g_unix_fd_add(
      STDOUT_FILENO, static_cast<GIOCondition>(G_IO_ERR | G_IO_HUP),
      [](gint, GIOCondition, gpointer data) -> gboolean {
        auto* self = static_cast<X11MascotPlatform*>(data);
        self->outputWatch_ = 0;
        self->terminate();
        return G_SOURCE_REMOVE;
      },
      this);
}

X11MascotPlatform::~X11MascotPlatform() {
  if (display_ == nullptr) return;
  for (guint id : {outputWatch_, redrawIdle_, raiseTimer_}) {
    if (id != 0) g_source_remove(id);
  }
  g_source_destroy(xSource_);
  g_source_unref(xSource_);
  g_main_loop_unref(loop_);
  upload_.reset();
  if (surface_ != nullptr) cairo_surface_destroy(surface_);
  if (picture_ != nullptr) cairo_surface_destroy(picture_);
  for (auto& [kind, cursor] : cursors_) XFreeCursor(display_, cursor);
  XDestroyWindow(display_, window_);
  if (colormap_ != 0) XFreeColormap(display_, colormap_);
  XCloseDisplay(display_);
}

void X11MascotPlatform::createWindow() {
  const int screen = DefaultScreen(display_);
  XVisualInfo info;
  XSetWindowAttributes attributes{};
  unsigned long mask = CWOverrideRedirect | CWEventMask | CWBorderPixel;
  if (XMatchVisualInfo(display_, screen, 32, TrueColor, &info)) {
    // An ARGB visual: what is not painted can be truly transparent under a compositor.
    visual_ = info.visual;
    depth_ = 32;
    colormap_ = XCreateColormap(display_, root_, info.visual, AllocNone);
    attributes.colormap = colormap_;
    attributes.background_pixel = 0;
    mask |= CWColormap | CWBackPixel;
  } else {
    visual_ = DefaultVisual(display_, screen);
    depth_ = DefaultDepth(display_, screen);
  }
  attributes.override_redirect = True;  // never managed, never focused, on every workspace
  attributes.border_pixel = 0;
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                          EnterWindowMask | LeaveWindowMask | StructureNotifyMask;
  const XRect g = ScreenSpace::toPixels(space_.toRoot(frame_));
  shownGeometry_ = g;
  window_ = XCreateWindow(display_, root_, g.x, g.y, g.width, g.height, 0, depth_, InputOutput,
                          static_cast<Visual*>(visual_), mask, &attributes);

  XClassHint classHint{const_cast<char*>("perch"), const_cast<char*>("perch")};
  XSetClassHint(display_, window_, &classHint);
  XStoreName(display_, window_, "perch");
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = False;
  XSetWMHints(display_, window_, &hints);
  Atom type = XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False);
  Atom utility = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_UTILITY", False);
  XChangeProperty(display_, window_, type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&utility), 1);
}

void X11MascotPlatform::readScreens() {
  std::vector<Rect> rootRects;
  int count = 0;
  XRRMonitorInfo* monitors =
      randrEvent_ >= 0 ? XRRGetMonitors(display_, root_, True, &count) : nullptr;
  for (int i = 0; i < count; ++i) {
    const XRRMonitorInfo& m = monitors[i];
    Rect r{double(m.x), double(m.y), double(m.width), double(m.height)};
    if (m.primary) {
      rootRects.insert(rootRects.begin(), r);
    } else {
      rootRects.push_back(r);
    }
  }
  if (monitors) XRRFreeMonitors(monitors);
  if (rootRects.empty()) {
    const int screen = DefaultScreen(display_);
    rootRects.push_back(
        {0, 0, double(DisplayWidth(display_, screen)), double(DisplayHeight(display_, screen))});
  }
  // The panel keeps its place on the root window while the core's space may move under it.
  const Rect rootFrame = space_.toRoot(frame_);
  space_ = ScreenSpace(rootRects.front());
  frame_ = space_.fromRoot(rootFrame);
  screens_.clear();
  for (const Rect& r : rootRects) screens_.push_back(space_.fromRoot(r));
}

std::vector<Rect> X11MascotPlatform::screens() { return screens_; }

std::optional<Rect> X11MascotPlatform::mainScreen() {
  if (screens_.empty()) return std::nullopt;
  return screens_.front();
}

std::optional<Rect> X11MascotPlatform::panelScreen() {
  // The screen holding the largest part of the panel, as a window system would say.
  std::optional<Rect> best;
  double bestArea = 0;
  for (const Rect& s : screens_) {
    const Rect common = s.intersection(frame_);
    if (common.width * common.height > bestArea) {
      bestArea = common.width * common.height;
      best = s;
    }
  }
  return best;
}

// A move goes out at once. A resize waits for the picture and shape drawn for the new size and
// goes out right after that shape (see redraw()), so the server never pairs a new size with an
// old shape.
void X11MascotPlatform::setPanelFrame(const Rect& frame) {
  frame_ = frame;
  const XRect g = ScreenSpace::toPixels(space_.toRoot(frame_));
  if (g.width == shownGeometry_.width && g.height == shownGeometry_.height) applyGeometry();
  setNeedsDisplay();
}

void X11MascotPlatform::setPanelOrigin(Point origin) {
  frame_.x = origin.x;
  frame_.y = origin.y;
  applyGeometry();
  XFlush(display_);
}

void X11MascotPlatform::applyGeometry() {
  const XRect g = ScreenSpace::toPixels(space_.toRoot(frame_));
  if (g == shownGeometry_) return;
  if (g.width != shownGeometry_.width || g.height != shownGeometry_.height) {
    XMoveResizeWindow(display_, window_, g.x, g.y, g.width, g.height);
    if (surface_ != nullptr) {
      cairo_xlib_surface_set_size(surface_, static_cast<int>(g.width), static_cast<int>(g.height));
    }
  } else {
    XMoveWindow(display_, window_, g.x, g.y);
  }
  shownGeometry_ = g;
}

void X11MascotPlatform::orderFront() {
  lastRaise_ = g_get_monotonic_time();
  if (mapped_) {
    XRaiseWindow(display_, window_);
    setNeedsDisplay();
    return;
  }
  // Drawn and shaped before it is mapped, so it never shows unshaped; the exposure that follows
  // the map shows the picture.
  mapped_ = true;
  redraw();
  XMapRaised(display_, window_);
  XFlush(display_);
}

void X11MascotPlatform::orderOut() {
  XUnmapWindow(display_, window_);
  XFlush(display_);
  mapped_ = false;
}

void X11MascotPlatform::setNeedsDisplay() {
  if (redrawIdle_ != 0) return;
  redrawIdle_ = g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11MascotPlatform*>(data);
        self->redrawIdle_ = 0;
        self->redraw();
        return G_SOURCE_REMOVE;
      },
      this, nullptr);
}

void X11MascotPlatform::redraw() {
  if (!mapped_ || view_ == nullptr) {
    applyGeometry();
    XFlush(display_);
    return;
  }
  const XRect g = ScreenSpace::toPixels(space_.toRoot(frame_));
  const int w = static_cast<int>(g.width), h = static_cast<int>(g.height);
  if (upload_ == nullptr)
    upload_ = std::make_unique<X11FrameUpload>(display_, visual_, depth_, window_);
  // Drawn offscreen first (straight into the frame the server reads, where there is one): its
  // alpha decides the window's shape before it is shown.
  std::uint8_t* frame = upload_->frame(w, h);
  cairo_surface_t* picture =
      frame != nullptr
          ? cairo_image_surface_create_for_data(frame, CAIRO_FORMAT_ARGB32, w, h, upload_->stride())
          : cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(picture);
  if (frame != nullptr) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  }
  {
    CairoCanvas canvas(cr, h);
    view_->draw(canvas);
  }
  cairo_destroy(cr);
  cairo_surface_flush(picture);
  unsigned char* pixels = cairo_image_surface_get_data(picture);
  const int stride = cairo_image_surface_get_stride(picture);
  const bool composited = composited_ && depth_ == 32;
  if (!composited) flattenForShapedWindow(pixels, stride, w, h, kShapedMinAlpha);
  cairo_surface_mark_dirty(picture);
  // The shape for the new size goes out before the resize: whoever sees the new size already
  // finds the new shape (a shape may reach past the window's edges until then).
  applyShapes(paintedRegion(pixels, stride, w, h, composited ? kInputMinAlpha : kShapedMinAlpha),
              composited, g);
  applyGeometry();

  if (picture_ != nullptr) cairo_surface_destroy(picture_);
  picture_ = nullptr;
  if (frame != nullptr) {
    cairo_surface_destroy(picture);  // the frame itself stays with the upload
  } else {
    picture_ = picture;
  }
  showPicture();
}

void X11MascotPlatform::showPicture() {
  if (!mapped_) return;
  if (picture_ == nullptr) {
    if (upload_ == nullptr || upload_->stride() == 0) return;
    lastPutSerial_ = NextRequest(display_);
    upload_->put();
    XFlush(display_);
    return;
  }
  // Only a window whose pixels are not the picture's own words comes here: cairo converts them.
  if (surface_ == nullptr) {
    surface_ = cairo_xlib_surface_create(display_, window_, static_cast<Visual*>(visual_),
                                         static_cast<int>(shownGeometry_.width),
                                         static_cast<int>(shownGeometry_.height));
  }
  lastPutSerial_ = NextRequest(display_);
  cairo_t* cr = cairo_create(surface_);
  cairo_set_source_surface(cr, picture_, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(surface_);
  XFlush(display_);
}

void X11MascotPlatform::applyShapes(const std::vector<PixelRect>& painted, bool composited,
                                    const XRect& g) {
  auto toX = [](const std::vector<PixelRect>& rects) {
    std::vector<XRectangle> x;
    for (const PixelRect& r : rects) {
      x.push_back({static_cast<short>(r.x), static_cast<short>(r.y),
                   static_cast<unsigned short>(r.width), static_cast<unsigned short>(r.height)});
    }
    return x;
  };
  // Unpainted pixels let clicks through to the window behind, except inside the hit area, which
  // takes every press as the button's.
  std::vector<PixelRect> input = painted;
  const Rect hit = view_->hitArea();
  input.push_back({static_cast<int>(std::floor(hit.minX())),
                   static_cast<int>(std::floor(g.height - hit.maxY())),
                   static_cast<int>(std::ceil(hit.width)),
                   static_cast<int>(std::ceil(hit.height))});
  if (composited) {
    if (shapedLast_) XShapeCombineMask(display_, window_, ShapeBounding, 0, 0, 0, ShapeSet);
    shapedLast_ = false;
    boundingLast_.clear();
  } else if (!shapedLast_ || painted != boundingLast_) {
    // No compositor: the window is cut to what is painted, so the screen behind shows around it.
    auto rects = toX(painted);
    XShapeCombineRectangles(display_, window_, ShapeBounding, 0, 0, rects.data(),
                            static_cast<int>(rects.size()), ShapeSet, Unsorted);
    shapedLast_ = true;
    boundingLast_ = painted;
  }
  if (fixesEvent_ >= 0 && input != inputLast_) {
    auto rects = toX(input);
    XserverRegion region =
        XFixesCreateRegion(display_, rects.data(), static_cast<int>(rects.size()));
    XFixesSetWindowShapeRegion(display_, window_, ShapeInput, 0, 0, region);
    XFixesDestroyRegion(display_, region);
    inputLast_ = std::move(input);
  }
}

void X11MascotPlatform::watchCompositor() {
  int error = 0, major = 5, minor = 0;
  // Selection events need XFixes 1 and input shapes 2; the version must be asked for first.
  if (!XFixesQueryExtension(display_, &fixesEvent_, &error) ||
      !XFixesQueryVersion(display_, &major, &minor) || major < 2) {
    fixesEvent_ = -1;
    return;
  }
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
  compositorSelection_ = XInternAtom(display_, name.c_str(), False);
  // A compositor starting or stopping changes the selection's owner: the window follows live.
  XFixesSelectSelectionInput(display_, root_, compositorSelection_,
                             XFixesSetSelectionOwnerNotifyMask |
                                 XFixesSelectionWindowDestroyNotifyMask |
                                 XFixesSelectionClientCloseNotifyMask);
  readCompositor();
}

void X11MascotPlatform::readCompositor() {
  composited_ = XGetSelectionOwner(display_, compositorSelection_) != 0;
}

double X11MascotPlatform::now() { return static_cast<double>(g_get_monotonic_time()) / 1e6; }

std::unique_ptr<RepeatingTimer> X11MascotPlatform::scheduleRepeating(double interval,
                                                                     std::function<void()> tick) {
  return std::make_unique<GLibTimer>(std::move(tick), interval);
}

void X11MascotPlatform::runAfter(double delay, std::function<void()> work) {
  auto* heap = new std::function<void()>(std::move(work));
  g_timeout_add_full(
      G_PRIORITY_DEFAULT, millis(delay),
      [](gpointer data) -> gboolean {
        (*static_cast<std::function<void()>*>(data))();
        return G_SOURCE_REMOVE;
      },
      heap, [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

Point X11MascotPlatform::mouseLocation() {
  // The pointer as of the latest pointer event handled: where it was when the press or movement
  // being handled happened, which a round trip made later could no longer tell.
  if (lastPointer_) return space_.fromRoot(*lastPointer_);
  Window rootReturn, child;
  int rootX = 0, rootY = 0, winX = 0, winY = 0;
  unsigned int buttons = 0;
  XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &winX, &winY, &buttons);
  return space_.fromRoot(Point{double(rootX), double(rootY)});
}

unsigned long X11MascotPlatform::loadCursor(Cursor cursor) {
  if (auto it = cursors_.find(cursor); it != cursors_.end()) return it->second;
  // Names from the user's cursor theme, then a cursor-font shape that always exists.
  struct Choice {
    const char* names[3];
    unsigned fallback;
  };
  const Choice choice =
      cursor == Cursor::pointingHand ? Choice{{"pointer", "hand2", nullptr}, XC_hand2}
      : cursor == Cursor::closedHand ? Choice{{"grabbing", "closedhand", "fleur"}, XC_fleur}
                                     : Choice{{"default", "left_ptr", nullptr}, XC_left_ptr};
  unsigned long loaded = 0;
  for (const char* name : choice.names) {
    if (name != nullptr && loaded == 0) loaded = XcursorLibraryLoadCursor(display_, name);
  }
  if (loaded == 0) loaded = XCreateFontCursor(display_, choice.fallback);
  cursors_[cursor] = loaded;
  return loaded;
}

void X11MascotPlatform::setCursor(Cursor cursor) {
  XDefineCursor(display_, window_, loadCursor(cursor));
  XFlush(display_);
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
  return loadCairoImage(path);
}

void X11MascotPlatform::writeLine(std::string_view line) {
  const bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                       std::fputc('\n', stdout) != EOF;
  if (std::fflush(stdout) != 0 || !written) terminate();  // the host stopped listening
}

void X11MascotPlatform::terminate() {
  terminated_ = true;
  g_main_loop_quit(loop_);
}

void X11MascotPlatform::run() {
  if (!terminated_) g_main_loop_run(loop_);
}

gboolean X11MascotPlatform::prepareX(GSource* source, gint* timeout) {
  Display* display = reinterpret_cast<XSource*>(source)->owner->display_;
  *timeout = -1;
  XFlush(display);
  // Events Xlib has already read would never wake poll(): dispatch them before waiting.
  return XQLength(display) > 0;
}

gboolean X11MascotPlatform::checkX(GSource* source) {
  auto* xsource = reinterpret_cast<XSource*>(source);
  if (XQLength(xsource->owner->display_) > 0) return TRUE;
  return g_source_query_unix_fd(source, xsource->fdTag) != 0;
}

gboolean X11MascotPlatform::dispatchX(GSource* source, GSourceFunc, gpointer) {
  X11MascotPlatform* self = reinterpret_cast<XSource*>(source)->owner;
  while (XPending(self->display_) > 0) {
    XEvent event;
    XNextEvent(self->display_, &event);
    self->handleEvent(event);
  }
  return G_SOURCE_CONTINUE;
}

void X11MascotPlatform::onConnectionLost(Display*, void*) {
  // The server is gone and this connection can never be used again: end quietly.
  std::fflush(stdout);
  std::_Exit(0);
}

Point X11MascotPlatform::viewPoint(int x, int y) const {
  return {double(x), double(shownGeometry_.height) - y};
}

void X11MascotPlatform::handleEvent(XEvent& event) {
  if (fixesEvent_ >= 0 && event.type == fixesEvent_ + XFixesSelectionNotify) {
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
    case Expose:
      // Exposures come from our own reshaping too: they show the picture already drawn rather
      // than drawing (and reshaping) again, and not at all when the whole picture was sent after
      // the server raised them (the reshape of each frame goes out just before its picture).
      if (event.xexpose.count == 0 && event.xexpose.serial < lastPutSerial_) break;
      if (event.xexpose.count == 0) showPicture();
      break;
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
    case CirculateNotify:
      if (event.xcirculate.window != window_) keepOnTop();
      break;
    default:
      break;
  }
}

void X11MascotPlatform::handlePointer(XEvent& event) {
  if (view_ == nullptr) return;
  switch (event.type) {
    case ButtonPress:
    case ButtonRelease:
      lastPointer_ = Point{double(event.xbutton.x_root), double(event.xbutton.y_root)};
      break;
    case EnterNotify:
    case LeaveNotify:
      lastPointer_ = Point{double(event.xcrossing.x_root), double(event.xcrossing.y_root)};
      break;
  }
  switch (event.type) {
    case ButtonPress:
      if (event.xbutton.button != Button1) return;
      buttonHeld_ = true;
      view_->mouseDown(viewPoint(event.xbutton.x, event.xbutton.y));
      break;
    case MotionNotify: {
      // A fast drag queues many motions: only the latest of a run matters, since the drag reads
      // the pointer's position at the moment it looks. Only motions queued right behind this one
      // merge with it; a press or release in between keeps its place.
      XEvent next;
      while (XEventsQueued(display_, QueuedAlready) > 0 && XPeekEvent(display_, &next) &&
             next.type == MotionNotify && next.xmotion.window == window_) {
        XNextEvent(display_, &event);
      }
      lastPointer_ = Point{double(event.xmotion.x_root), double(event.xmotion.y_root)};
      if (buttonHeld_) {
        view_->mouseDragged();
      } else {
        trackPointer(viewPoint(event.xmotion.x, event.xmotion.y), true);
      }
      break;
    }
    case ButtonRelease:
      if (event.xbutton.button != Button1 || !buttonHeld_) return;
      buttonHeld_ = false;
      view_->mouseUp(viewPoint(event.xbutton.x, event.xbutton.y));
      break;
    case EnterNotify:
      if (!buttonHeld_) trackPointer(viewPoint(event.xcrossing.x, event.xcrossing.y), true);
      break;
    case LeaveNotify:
      if (!buttonHeld_) trackPointer({}, false);
      break;
  }
}

void X11MascotPlatform::trackPointer(Point point, bool inWindow) {
  const bool inside = inWindow && view_->hitArea().contains(point);
  if (inside == pointerInHitArea_) return;
  pointerInHitArea_ = inside;
  if (inside) {
    view_->mouseEntered();
    view_->cursorUpdate();
  } else {
    view_->mouseExited();
  }
}

void X11MascotPlatform::keepOnTop() {
  // An ARGB window gets no VisibilityNotify, so any window mapped or restacked may now cover the
  // panel: raise it again, at most ten times a second.
  if (!mapped_) return;
  const gint64 now = g_get_monotonic_time();
  if (now - lastRaise_ >= kRaiseIntervalUs) {
    XRaiseWindow(display_, window_);
    lastRaise_ = now;
    return;
  }
  if (raiseTimer_ != 0) return;
  raiseTimer_ = g_timeout_add(
      millis(double(kRaiseIntervalUs - (now - lastRaise_)) / 1e6),
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11MascotPlatform*>(data);
        self->raiseTimer_ = 0;
        self->keepOnTop();
        return G_SOURCE_REMOVE;
      },
      this);
}

}  // namespace perch
