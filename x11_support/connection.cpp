#include "connection.h"

#include <X11/Xlib.h>

#include <utility>

namespace x11_support {
namespace {

constexpr auto kReadable = static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR);

struct Source {
  GSource base;
  ConnectionSource* owner;
};

}  // namespace

void quietXErrors() {
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  XSetIOErrorHandler([](Display*) { return 0; });
}

ConnectionSource::ConnectionSource(Display* display, std::function<void()> readEvents)
    : display_(display), readEvents_(std::move(readEvents)) {
  static GSourceFuncs funcs = {
      [](GSource* source, gint* timeout) -> gboolean {
        Display* display = reinterpret_cast<Source*>(source)->owner->display_;
        *timeout = -1;
        XFlush(display);
        // Events Xlib has already read would never wake poll(): dispatch them before waiting.
        return XQLength(display) > 0;
      },
      [](GSource* source) -> gboolean {
        ConnectionSource* self = reinterpret_cast<Source*>(source)->owner;
        return XQLength(self->display_) > 0 || g_source_query_unix_fd(source, self->fdTag_) != 0;
      },
      [](GSource* source, GSourceFunc, gpointer) -> gboolean {
        reinterpret_cast<Source*>(source)->owner->readEvents_();
        return G_SOURCE_CONTINUE;
      },
      nullptr,
      nullptr,
      nullptr};
  source_ = g_source_new(&funcs, sizeof(Source));
  reinterpret_cast<Source*>(source_)->owner = this;
  fdTag_ = g_source_add_unix_fd(source_, ConnectionNumber(display_), kReadable);
  // A source that may not recurse leaves the poll and comes back on each dispatch, waking the loop
  // once more: needless here, as no owner runs the loop from its handlers.
  g_source_set_can_recurse(source_, TRUE);
  g_source_attach(source_, nullptr);
}

ConnectionSource::~ConnectionSource() {
  g_source_destroy(source_);
  g_source_unref(source_);
}

void ConnectionSource::setPolled(bool polled) {
  g_source_modify_unix_fd(source_, fdTag_, polled ? kReadable : static_cast<GIOCondition>(0));
}

}  // namespace x11_support
