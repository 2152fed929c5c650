#include "session_watch.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <utility>

namespace vigil {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";
constexpr const char* kUser = "org.freedesktop.login1.User";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";
// Only for a bus that takes the call and never answers: nothing waits on it meanwhile.
constexpr int kCallTimeoutMs = 10000;

// The result of a finished call, or nothing. A cancelled call means the watch is gone: `self`
// must not be touched then, so the caller learns it through `cancelled`.
GVariant* finishCall(GObject* bus, GAsyncResult* result, bool* cancelled) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, &error);
  *cancelled = error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
  if (error != nullptr) g_error_free(error);
  return reply;
}

}  // namespace

SessionWatch::SessionWatch(std::function<void(bool listening)> onChange)
    : onChange_(std::move(onChange)), cancellable_(g_cancellable_new()) {
  // The ordinary way to the system bus: DBUS_SYSTEM_BUS_ADDRESS, else the well-known socket.
  g_bus_get(G_BUS_TYPE_SYSTEM, cancellable_, &SessionWatch::onBus, this);
}

SessionWatch::~SessionWatch() {
  g_cancellable_cancel(cancellable_);
  if (bus_ != nullptr) {
    if (changedSubscription_ != 0) g_dbus_connection_signal_unsubscribe(bus_, changedSubscription_);
    if (removedSubscription_ != 0) g_dbus_connection_signal_unsubscribe(bus_, removedSubscription_);
    g_object_unref(bus_);
  }
  g_object_unref(cancellable_);
}

void SessionWatch::onBus(GObject*, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GDBusConnection* bus = g_bus_get_finish(result, &error);
  if (bus == nullptr) {
    // No system bus (a container, a system without D-Bus): nothing to follow, keys keep flowing.
    g_error_free(error);
    return;
  }
  auto* watch = static_cast<SessionWatch*>(self);
  // The shared connection would end the process if the bus went away: vigil just stops knowing.
  g_dbus_connection_set_exit_on_close(bus, FALSE);
  watch->bus_ = bus;
  watch->lookUp(Lookup::byEnvironment);
}

void SessionWatch::lookUp(Lookup lookup, const std::string& userPath) {
  lookup_ = lookup;
  const char* path = kManagerPath;
  const char* interface = kManager;
  const char* method = nullptr;
  GVariant* arguments = nullptr;
  const GVariantType* replyType = G_VARIANT_TYPE("(o)");
  switch (lookup) {
    case Lookup::byEnvironment: {
      const char* id = std::getenv("XDG_SESSION_ID");
      if (id == nullptr || *id == '\0') return lookUp(Lookup::byProcess);
      method = "GetSession";
      arguments = g_variant_new("(s)", id);
      break;
    }
    case Lookup::byProcess:
      method = "GetSessionByPID";
      arguments = g_variant_new("(u)", static_cast<guint32>(getpid()));
      break;
    case Lookup::byUser:
      method = "GetUser";
      arguments = g_variant_new("(u)", static_cast<guint32>(getuid()));
      break;
    case Lookup::userDisplay:
      path = userPath.c_str();
      interface = kProperties;
      method = "Get";
      arguments = g_variant_new("(ss)", kUser, "Display");
      replyType = G_VARIANT_TYPE("(v)");
      break;
  }
  g_dbus_connection_call(bus_, kLogind, path, interface, method, arguments, replyType,
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, cancellable_,
                         &SessionWatch::onLookup, this);
}

void SessionWatch::onLookup(GObject* bus, GAsyncResult* result, gpointer self) {
  bool cancelled = false;
  GVariant* reply = finishCall(bus, result, &cancelled);
  if (cancelled) return;
  auto* watch = static_cast<SessionWatch*>(self);
  if (reply == nullptr) {
    // Not this way (no such session, no logind at all): try the next, if any.
    if (watch->lookup_ == Lookup::byEnvironment) {
      watch->lookUp(Lookup::byProcess);
    } else if (watch->lookup_ == Lookup::byProcess) {
      watch->lookUp(Lookup::byUser);
    }
    return;
  }
  const gchar* path = nullptr;
  if (watch->lookup_ == Lookup::userDisplay) {
    // The user's display session: ("id", path), with the path "/" when there is none.
    GVariant* display = nullptr;
    g_variant_get(reply, "(v)", &display);
    if (g_variant_is_of_type(display, G_VARIANT_TYPE("(so)"))) {
      g_variant_get(display, "(&s&o)", nullptr, &path);
      if (std::strcmp(path, "/") != 0) watch->follow(path);
    }
    g_variant_unref(display);
  } else {
    g_variant_get(reply, "(&o)", &path);
    if (watch->lookup_ == Lookup::byUser) {
      watch->lookUp(Lookup::userDisplay, path);
    } else {
      watch->follow(path);
    }
  }
  g_variant_unref(reply);
}

void SessionWatch::follow(const std::string& sessionPath) {
  sessionPath_ = sessionPath;
  // Subscribed before the first read, so that no change can fall between the two.
  changedSubscription_ = g_dbus_connection_signal_subscribe(
      bus_, kLogind, kProperties, "PropertiesChanged", sessionPath_.c_str(), kSession,
      G_DBUS_SIGNAL_FLAGS_NONE, &SessionWatch::onPropertiesChanged, this, nullptr);
  removedSubscription_ = g_dbus_connection_signal_subscribe(
      bus_, kLogind, kManager, "SessionRemoved", kManagerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
      &SessionWatch::onSessionRemoved, this, nullptr);
  readProperties();
}

void SessionWatch::readProperties() {
  g_dbus_connection_call(bus_, kLogind, sessionPath_.c_str(), kProperties, "GetAll",
                         g_variant_new("(s)", kSession), G_VARIANT_TYPE("(a{sv})"),
                         G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, cancellable_,
                         &SessionWatch::onProperties, this);
}

void SessionWatch::onProperties(GObject* bus, GAsyncResult* result, gpointer self) {
  bool cancelled = false;
  GVariant* reply = finishCall(bus, result, &cancelled);
  if (cancelled || reply == nullptr) return;
  GVariant* properties = g_variant_get_child_value(reply, 0);
  static_cast<SessionWatch*>(self)->apply(properties);
  g_variant_unref(properties);
  g_variant_unref(reply);
}

void SessionWatch::onPropertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                       const gchar*, GVariant* parameters, gpointer self) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) return;
  auto* watch = static_cast<SessionWatch*>(self);
  GVariant* changed = g_variant_get_child_value(parameters, 1);
  watch->apply(changed);
  g_variant_unref(changed);
  // A property said to have changed without its value: read them again.
  GVariant* invalidated = g_variant_get_child_value(parameters, 2);
  GVariantIter iter;
  g_variant_iter_init(&iter, invalidated);
  const gchar* name = nullptr;
  bool reread = false;
  while (g_variant_iter_next(&iter, "&s", &name)) {
    reread = reread || std::strcmp(name, "Active") == 0 || std::strcmp(name, "LockedHint") == 0;
  }
  g_variant_unref(invalidated);
  if (reread) watch->readProperties();
}

void SessionWatch::onSessionRemoved(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                    const gchar*, GVariant* parameters, gpointer self) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(so)"))) return;
  auto* watch = static_cast<SessionWatch*>(self);
  const gchar* path = nullptr;
  g_variant_get(parameters, "(&s&o)", nullptr, &path);
  if (watch->sessionPath_ != path) return;
  // The user logged out: whoever uses the machine next is somebody else.
  watch->gone_ = true;
  watch->report();
}

void SessionWatch::apply(GVariant* properties) {
  gboolean value = FALSE;
  if (g_variant_lookup(properties, "Active", "b", &value)) active_ = value;
  // LockedHint is missing from old versions of logind: those never say "locked".
  if (g_variant_lookup(properties, "LockedHint", "b", &value)) locked_ = value;
  report();
}

void SessionWatch::report() {
  const bool listening = active_ && !locked_ && !gone_;
  if (listening == listening_) return;
  listening_ = listening;
  onChange_(listening);
}

}  // namespace vigil
