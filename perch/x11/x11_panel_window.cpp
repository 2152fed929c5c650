// The panel's window: created once, moved and resized, mapped and unmapped, kept on top, its
// shapes cut to what it paints; whether a compositor runs; the window widened on Xwayland.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>

#include <string>
#include <utility>
#include <vector>

#include "main_loop.h"
#include "x11_panel_window.h"

namespace perch {
namespace {

constexpr gint64 kRaiseIntervalUs = 100 * 1000;  // at most ten raises a second

// The first type a window lists in _NET_WM_WINDOW_TYPE, or 0.
Atom windowType(Display* display, Window window) {
  Atom actual = 0, type = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), 0, 1,
                         False, XA_ATOM, &actual, &format, &count, &after, &data) == Success &&
      format == 32 && count == 1) {
    type = reinterpret_cast<Atom*>(data)[0];
  }
  if (data != nullptr) XFree(data);
  return type;
}

bool isTransientType(Display* display, Atom type) {
  for (const char* name : {"_NET_WM_WINDOW_TYPE_MENU", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                           "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP",
                           "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_COMBO",
                           "_NET_WM_WINDOW_TYPE_DND"}) {
    if (type == XInternAtom(display, name, False)) return true;  // Xlib caches the atoms
  }
  return false;
}

// A managed client inside `window` (the window itself, a child or a grandchild carrying
// WM_STATE), or 0.
Window managedClient(Display* display, Window window, int depth) {
  Atom actual = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  XGetWindowProperty(display, window, XInternAtom(display, "WM_STATE", False), 0, 0, False,
                     AnyPropertyType, &actual, &format, &count, &after, &data);
  if (data != nullptr) XFree(data);
  if (actual != 0) return window;
  Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned n = 0;
  if (depth == 0 || !XQueryTree(display, window, &rootReturn, &parent, &children, &n)) return 0;
  Window client = 0;
  for (unsigned i = 0; i < n && client == 0; ++i) {
    client = managedClient(display, children[i], depth - 1);
  }
  if (children != nullptr) XFree(children);
  return client;
}

// Whether an override-redirect window belongs to the window manager, as a frame or container
// holding a managed client (i3 frames every window so) or as a bar typed a dock, rather than
// being another program's menu, tooltip, notification, drag icon or screen locker. A frame whose
// client is typed as one of those transient kinds goes with its client.
bool isManagersOwn(Display* display, Window window) {
  const Atom type = windowType(display, window);
  if (type == XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False)) return true;
  if (isTransientType(display, type)) return false;
  const Window client = managedClient(display, window, 2);
  return client != 0 && !isTransientType(display, windowType(display, client));
}

}  // namespace

X11PanelWindow::X11PanelWindow(const X11Connection& connection, const X11Screens& screens,
                               const Rect& frame)
    : display_(connection.display()),
      root_(connection.root()),
      fixesEvent_(connection.fixesEvent()),
      xwayland_(connection.xwayland()),
      screens_(screens),
      frame_(frame) {
  createWindow();
  watchCompositor();
}

X11PanelWindow::~X11PanelWindow() {
  if (raiseTimer_ != 0) g_source_remove(raiseTimer_);
  XDestroyWindow(display_, window_);
  if (colormap_ != 0) XFreeColormap(display_, colormap_);
}

Colormap X11PanelWindow::colormap() const {
  return colormap_ != 0 ? colormap_ : DefaultColormap(display_, DefaultScreen(display_));
}

void X11PanelWindow::createWindow() {
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
  shown_ = wantedPart();
  const XRect g = shown_.window;
  window_ = XCreateWindow(display_, root_, g.x, g.y, g.width, g.height, 0, depth_, InputOutput,
                          static_cast<Visual*>(visual_), mask, &attributes);

  XClassHint classHint{const_cast<char*>("perch"), const_cast<char*>("perch")};
  XSetClassHint(display_, window_, &classHint);
  XStoreName(display_, window_, "perch");
  XWMHints hints{};
  hints.flags = InputHint;
  hints.input = False;
  XSetWMHints(display_, window_, &hints);
  // For compositors: a dock, kept above ordinary windows, which compositors leave without a shadow
  // (xcompmgr -C, picom's example wintypes); and picom's own "no shadow" mark, which it honours
  // whatever its configuration. The mascot paints its own glow; a shadow would outline the panel.
  Atom type = XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False);
  Atom dock = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False);
  XChangeProperty(display_, window_, type, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&dock), 1);
  long noShadow = 0;
  XChangeProperty(display_, window_, XInternAtom(display_, "_COMPTON_SHADOW", False), XA_CARDINAL,
                  32, PropModeReplace, reinterpret_cast<unsigned char*>(&noShadow), 1);
}

ShownPart X11PanelWindow::wantedPart() const {
  const Rect root = screens_.space().toRoot(frame_);
  if (!widened_) return ScreenSpace::shownPart(root, screens_.bounds());
  // A widened window stays put while the panel moves within it (see widen()).
  if (pinned_) {
    if (auto part = ScreenSpace::partWithin(root, shown_.window)) return *part;
  }
  return ScreenSpace::shownPart(root, screens_.bounds(), kWideMargin);
}

void X11PanelWindow::applyGeometry() {
  const ShownPart part = wantedPart();
  const XRect& g = part.window;
  pinned_ = widened_;
  if (part == shown_) return;
  if (g.width != shown_.window.width || g.height != shown_.window.height) {
    XMoveResizeWindow(display_, window_, g.x, g.y, g.width, g.height);
  } else if (g.x != shown_.window.x || g.y != shown_.window.y) {
    XMoveWindow(display_, window_, g.x, g.y);
  }
  shown_ = part;
}

void X11PanelWindow::orderFront(const std::function<void()>& drawFirst) {
  lastRaise_ = g_get_monotonic_time();
  if (mapped_) {
    restack();
    return;
  }
  // Drawn and shaped before it is mapped, so it never shows unshaped; the exposure that follows
  // the map shows the picture.
  mapped_ = true;
  drawFirst();
  restack();  // before it shows: never over a menu or a locker, not even for a moment
  XMapWindow(display_, window_);
  XFlush(display_);
}

void X11PanelWindow::orderOut() {
  XUnmapWindow(display_, window_);
  XFlush(display_);
  mapped_ = false;
}

// The panel's place in the stack: right above the highest ordinary window, and below every
// override-redirect window above that. Ordinary are the windows a window manager stacks (normal,
// floating, docks) and the window manager's own override-redirect ones: a frame or container that
// holds a managed client, or a bar. Other programs' override-redirect windows (menus, tooltips,
// notifications, drag icons, lockers) stay above the panel. Only override-redirect windows above
// the highest managed one are looked into, from the top down, each at most once.
void X11PanelWindow::restack() {
  Window rootReturn = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, root_, &rootReturn, &parent, &children, &count)) return;
  std::vector<Window> shown;  // viewable windows but ours, bottom to top
  std::vector<bool> ordinary;
  int below = -1;  // index in `shown` of the window right below ours
  for (unsigned i = 0; i < count; ++i) {
    if (children[i] == window_) {
      below = int(shown.size()) - 1;
      continue;
    }
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display_, children[i], &attributes) ||
        attributes.map_state != IsViewable) {
      continue;
    }
    shown.push_back(children[i]);
    ordinary.push_back(!attributes.override_redirect);
  }
  if (children != nullptr) XFree(children);
  int target = int(shown.size()) - 1;
  while (target >= 0 && !ordinary[target] && !isManagersOwn(display_, shown[target])) --target;
  if (target == below) return;  // in place already: no restacking, no event for others
  if (target < 0) {
    XLowerWindow(display_, window_);
  } else {
    XWindowChanges changes{};
    changes.sibling = shown[target];
    changes.stack_mode = Above;
    XConfigureWindow(display_, window_, CWSibling | CWStackMode, &changes);
  }
}

void X11PanelWindow::keepOnTop() {
  // An ARGB window gets no VisibilityNotify, so any window mapped or restacked may now cover the
  // panel: put it back in its place, at most ten times a second.
  if (!mapped_) return;
  const gint64 now = g_get_monotonic_time();
  if (now - lastRaise_ >= kRaiseIntervalUs) {
    restack();
    lastRaise_ = now;
    return;
  }
  if (raiseTimer_ != 0) return;
  raiseTimer_ = g_timeout_add(
      timeoutMillis(double(kRaiseIntervalUs - (now - lastRaise_)) / 1e6),
      [](gpointer data) -> gboolean {
        auto* self = static_cast<X11PanelWindow*>(data);
        self->raiseTimer_ = 0;
        self->keepOnTop();
        return G_SOURCE_REMOVE;
      },
      this);
}

void X11PanelWindow::watchCompositor() {
  // Selection events need XFixes.
  if (fixesEvent_ < 0) return;
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
  compositorSelection_ = XInternAtom(display_, name.c_str(), False);
  // A compositor starting or stopping changes the selection's owner: the window follows live.
  XFixesSelectSelectionInput(display_, root_, compositorSelection_,
                             XFixesSetSelectionOwnerNotifyMask |
                                 XFixesSelectionWindowDestroyNotifyMask |
                                 XFixesSelectionClientCloseNotifyMask);
  readCompositor();
}

void X11PanelWindow::readCompositor() {
  composited_ = XGetSelectionOwner(display_, compositorSelection_) != 0;
}

// The pointer on Xwayland. The Wayland compositor sends the X server pointer motion only while
// the pointer is over one of its windows, works out where it is from where it last knew that
// window to be, and the X server ends every press when the pointer enters one of its windows. A
// window that moves under a dragging pointer thus loses it, or puts it ahead of the hand. So on
// Xwayland, while the pointer is over the button or presses it, the window is widened with
// transparent margins on every side, and a drag moves the picture within it rather than the
// window, which stays put (and so stays under the pointer) until the panel would leave it. It is
// widened before the press, when the pointer comes over the button: widening moves the window's
// corner, which the compositor takes a moment to catch up with.
bool X11PanelWindow::widen(bool wide) {
  wide = wide && xwayland_;
  if (wide == widened_) return false;
  widened_ = wide;
  return true;
}

void X11PanelWindow::applyShapes(const std::vector<PixelRect>& painted, bool composited,
                                 const ShownPart& part, const Rect& hitArea) {
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
  // The pixels whose centres the hit area holds, within the window.
  const PixelRect pixels = ScreenSpace::pixelsHolding(hitArea, part, screens_.space().scale());
  if (pixels.width > 0) input.push_back(pixels);
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

}  // namespace perch
