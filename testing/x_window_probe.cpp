#include "x_window_probe.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/shape.h>
#include <cairo.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace e2e {

XWindowProbe::XWindowProbe(const std::string& display) { display_ = XOpenDisplay(display.c_str()); }

XWindowProbe::~XWindowProbe() {
  if (display_) XCloseDisplay(display_);
}

std::optional<unsigned long> XWindowProbe::findWindow(const std::string& windowClass) {
  Window root = DefaultRootWindow(display_), parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, root, &root, &parent, &children, &count)) return std::nullopt;
  std::optional<unsigned long> found;
  for (unsigned i = 0; i < count && !found; ++i) {
    XClassHint hint{};
    if (XGetClassHint(display_, children[i], &hint)) {
      if (hint.res_class && windowClass == hint.res_class) found = children[i];
      XFree(hint.res_name);
      XFree(hint.res_class);
    }
  }
  XFree(children);
  return found;
}

std::optional<WindowGeometry> XWindowProbe::geometry(unsigned long window) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(display_, window, &a)) return std::nullopt;
  return WindowGeometry{a.x,
                        a.y,
                        unsigned(a.width),
                        unsigned(a.height),
                        a.map_state == IsViewable,
                        a.override_redirect != 0};
}

std::optional<WindowGeometry> XWindowProbe::poll(const std::string& windowClass) {
  XSync(display_, False);
  auto window = findWindow(windowClass);
  if (!window) return std::nullopt;
  return geometry(*window);
}

void XWindowProbe::pause() { std::this_thread::sleep_for(std::chrono::milliseconds(10)); }

Pixel XWindowProbe::rootPixel(int x, int y) {
  XImage* image = XGetImage(display_, DefaultRootWindow(display_), x, y, 1, 1, AllPlanes, ZPixmap);
  if (!image) return {-1, -1, -1};
  unsigned long p = XGetPixel(image, 0, 0);
  XDestroyImage(image);
  if (DefaultVisual(display_, DefaultScreen(display_))->c_class != TrueColor) {
    // A colormap's index: its colour.
    XColor colour{};
    colour.pixel = p;
    XQueryColor(display_, DefaultColormap(display_, DefaultScreen(display_)), &colour);
    return {colour.red >> 8, colour.green >> 8, colour.blue >> 8};
  }
  return {int((p >> 16) & 0xff), int((p >> 8) & 0xff), int(p & 0xff)};
}

bool XWindowProbe::saveScreenshot(const std::string& pngPath) {
  Window root = DefaultRootWindow(display_);
  XWindowAttributes a;
  XGetWindowAttributes(display_, root, &a);
  XImage* image = XGetImage(display_, root, 0, 0, a.width, a.height, AllPlanes, ZPixmap);
  if (!image) return false;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, a.width, a.height);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < a.height; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + y * stride);
    for (int x = 0; x < a.width; ++x)
      row[x] = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xffffff;
  }
  cairo_surface_mark_dirty(surface);
  const bool ok = cairo_surface_write_to_png(surface, pngPath.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  XDestroyImage(image);
  return ok;
}

CursorImage XWindowProbe::cursorImage() {
  XSync(display_, False);
  XFixesCursorImage* image = XFixesGetCursorImage(display_);
  if (!image) return {};
  CursorImage cursor{image->width, image->height, image->xhot, image->yhot, {}};
  cursor.pixels.assign(image->pixels, image->pixels + image->width * image->height);
  XFree(image);
  return cursor;
}

std::vector<WindowGeometry> XWindowProbe::boundingShape(unsigned long window) {
  int count = 0, ordering = 0;
  XRectangle* rects = XShapeGetRectangles(display_, window, ShapeBounding, &count, &ordering);
  std::vector<WindowGeometry> shape;
  for (int i = 0; i < count; ++i) {
    shape.push_back({rects[i].x, rects[i].y, rects[i].width, rects[i].height, true, false});
  }
  if (rects) XFree(rects);
  return shape;
}

bool XWindowProbe::compositorRunning() {
  const std::string name = "_NET_WM_CM_S" + std::to_string(DefaultScreen(display_));
  return XGetSelectionOwner(display_, XInternAtom(display_, name.c_str(), False)) != 0;
}

bool XWindowProbe::waitForCompositor(int timeoutMs) {
  for (int waited = 0; waited < timeoutMs && !compositorRunning(); waited += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return compositorRunning();
}

void XWindowProbe::setRootColor(unsigned long rgb) {
  Window root = DefaultRootWindow(display_);
  if (DefaultVisual(display_, DefaultScreen(display_))->c_class != TrueColor) {
    XColor colour{};
    colour.red = static_cast<unsigned short>(((rgb >> 16) & 0xff) * 257);
    colour.green = static_cast<unsigned short>(((rgb >> 8) & 0xff) * 257);
    colour.blue = static_cast<unsigned short>((rgb & 0xff) * 257);
    if (XAllocColor(display_, DefaultColormap(display_, DefaultScreen(display_)), &colour))
      rgb = colour.pixel;
  }
  XSetWindowBackground(display_, root, rgb);
  XClearWindow(display_, root);
  XSync(display_, False);
}

}  // namespace e2e
