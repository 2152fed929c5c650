// The connection: its extensions, and reading and handing on its events.
#include "x11_connection.h"

#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "xwayland.h"

namespace perch {

X11Connection::X11Connection(Display* display, std::function<void(XEvent&)> handleEvent)
    : display_(display), root_(DefaultRootWindow(display)), handleEvent_(std::move(handleEvent)) {
  XSetIOErrorExitHandler(display_, &X11Connection::onConnectionLost, this);
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
  int major = 5, minor = 0;
  // Selection events need XFixes 1 and input shapes 2; the version must be asked for first.
  if (!XFixesQueryExtension(display_, &fixesEvent_, &error) ||
      !XFixesQueryVersion(display_, &major, &minor) || major < 2) {
    fixesEvent_ = -1;
  }
  xwayland_ = x11_support::isXwayland(display_);
  source_ = std::make_unique<x11_support::ConnectionSource>(display_, [this] { read(); });
}

X11Connection::~X11Connection() {
  source_.reset();
  XCloseDisplay(display_);
}

void X11Connection::read() {
  // Each call sends what is buffered and reads the connection once (a system call, whether or not
  // anything came): once, and again only after events were handled.
  while (XEventsQueued(display_, QueuedAfterFlush) > 0) {
    do {
      XEvent event;
      XNextEvent(display_, &event);
      handleEvent_(event);
    } while (XQLength(display_) > 0);
  }
}

void X11Connection::handleQueuedEvents() {
  // Sending what is buffered may read what the server has sent meanwhile.
  XFlush(display_);
  while (XQLength(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    handleEvent_(event);
  }
}

void X11Connection::tickingStarted() {
  if (ticking_++ == 0) source_->setPolled(false);
}

void X11Connection::tickingEnded() {
  if (--ticking_ == 0) source_->setPolled(true);
}

void X11Connection::onConnectionLost(Display*, void*) {
  // The server is gone and this connection can never be used again: end quietly.
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace perch
