#include "connection_source.h"

#include <X11/Xlib.h>

#include <utility>

namespace x11_support {
namespace {

constexpr GIOCondition kReadable = static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR);

}  // namespace

struct ConnectionSource::Source {
  GSource base;
  ConnectionSource* owner;
};

ConnectionSource::ConnectionSource(Display* display, std::function<void()> readEvents)
    : display_(display), readEvents_(std::move(readEvents)) {
  static GSourceFuncs funcs = {&prepare, &check, &dispatch, nullptr, nullptr, nullptr};
  source_ = g_source_new(&funcs, sizeof(Source));
  reinterpret_cast<Source*>(source_)->owner = this;
  fdTag_ = g_source_add_unix_fd(source_, ConnectionNumber(display_), kReadable);
  // Dispatching a source that is not allowed to recurse takes its descriptor out of the poll and
  // puts it back, which wakes the loop once more each time: not for this one, whose callers never
  // run the loop from their handlers.
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

gboolean ConnectionSource::prepare(GSource* source, gint* timeout) {
  Display* display = reinterpret_cast<Source*>(source)->owner->display_;
  *timeout = -1;
  XFlush(display);
  // Events Xlib has already read would never wake poll(): dispatch them before waiting.
  return XQLength(display) > 0;
}

gboolean ConnectionSource::check(GSource* source) {
  ConnectionSource* self = reinterpret_cast<Source*>(source)->owner;
  if (XQLength(self->display_) > 0) return TRUE;
  return g_source_query_unix_fd(source, self->fdTag_) != 0;
}

gboolean ConnectionSource::dispatch(GSource* source, GSourceFunc, gpointer) {
  reinterpret_cast<Source*>(source)->owner->readEvents_();
  return G_SOURCE_CONTINUE;
}

}  // namespace x11_support
