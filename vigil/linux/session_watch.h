// Whether the user's login session is in front and unlocked, as logind (or elogind) says on the
// system bus. The session is the process's own (XDG_SESSION_ID, else the one logind finds for
// its process id), else its user's display session: a host started by a user service has no
// session of its own. Everything runs asynchronously on GLib's default main context, so a slow
// or missing bus never holds up the start-up; without a bus, logind or a session nothing is
// ever reported and vigil keeps hearing the keys.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

namespace vigil {

class SessionWatch {
 public:
  // `onChange` gets whether the keys are the user's to hear, each time that changes: false
  // while the session is locked (LockedHint), not active, or gone.
  explicit SessionWatch(std::function<void(bool listening)> onChange);
  ~SessionWatch();
  SessionWatch(const SessionWatch&) = delete;
  SessionWatch& operator=(const SessionWatch&) = delete;

 private:
  // The ways of finding the session, tried in this order until one answers.
  enum class Lookup { byEnvironment, byProcess, byUser, userDisplay };

  static void onBus(GObject*, GAsyncResult* result, gpointer self);
  static void onLookup(GObject* bus, GAsyncResult* result, gpointer self);
  static void onProperties(GObject* bus, GAsyncResult* result, gpointer self);
  static void onPropertiesChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                  const gchar*, GVariant* parameters, gpointer self);
  static void onSessionRemoved(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer self);

  void lookUp(Lookup lookup, const std::string& userPath = {});
  void follow(const std::string& sessionPath);
  void readProperties();
  void apply(GVariant* properties);
  void report();

  std::function<void(bool)> onChange_;
  GCancellable* cancellable_;
  GDBusConnection* bus_ = nullptr;
  Lookup lookup_ = Lookup::byEnvironment;
  std::string sessionPath_;
  guint changedSubscription_ = 0;
  guint removedSubscription_ = 0;
  bool active_ = true;
  bool locked_ = false;
  bool gone_ = false;
  bool listening_ = true;
};

}  // namespace vigil
