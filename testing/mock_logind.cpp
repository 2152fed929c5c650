#include "mock_logind.h"

#include <gio/gio.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <thread>

#include "child_process.h"

namespace e2e {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kSessionPath = "/org/freedesktop/login1/session/c1";
constexpr const char* kMock = "org.freedesktop.DBus.Mock";

}  // namespace

MockLogind::MockLogind() {
  bus_ = std::make_unique<ChildProcess>(std::vector<std::string>{
      "/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"});
  auto address = bus_->readLine(10s);
  if (!address) return;
  address_ = *address;
  // Debian's interpreter, where the python3-dbusmock package installs the module.
  logind_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/python3", "-m", "dbusmock", "--template", "logind",
                               "--system"},
      std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + address_});
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (connection == nullptr) return;
  // The mock takes its name once Python has started: wait for it, with a deadline.
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  bool owned = false;
  while (!owned && std::chrono::steady_clock::now() < deadline) {
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", kLogind), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply != nullptr) {
      gboolean has = FALSE;
      g_variant_get(reply, "(b)", &has);
      owned = has;
      g_variant_unref(reply);
    }
    if (!owned) std::this_thread::sleep_for(20ms);
  }
  connection_ = connection;
  if (!owned || !call(kManagerPath, kMock, "AddSession", "(ssusb)", sessionId, "seat0",
                      static_cast<guint32>(getuid()), "tester", TRUE)) {
    g_object_unref(connection_);
    connection_ = nullptr;
  }
}

MockLogind::~MockLogind() {
  if (connection_ != nullptr) g_object_unref(connection_);
  logind_.reset();
  bus_.reset();
}

bool MockLogind::call(const char* path, const char* interface, const char* method,
                      const char* format, ...) {
  va_list args;
  va_start(args, format);
  GVariant* arguments = g_variant_new_va(format, nullptr, &args);
  va_end(args);
  GError* error = nullptr;
  GVariant* reply =
      g_dbus_connection_call_sync(connection_, kLogind, path, interface, method, arguments, nullptr,
                                  G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &error);
  if (reply == nullptr) {
    g_error_free(error);
    return false;
  }
  g_variant_unref(reply);
  return true;
}

void MockLogind::setLocked(bool locked) {
  call(kSessionPath, "org.freedesktop.login1.Session", "SetLockedHint", "(b)", locked);
}

void MockLogind::setActive(bool active) {
  GVariantBuilder changed;
  g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&changed, "{sv}", "Active", g_variant_new_boolean(active));
  call(kSessionPath, kMock, "UpdateProperties", "(sa{sv})", "org.freedesktop.login1.Session",
       &changed);
}

void MockLogind::makeDisplaySession() {
  // The template's own GetUser fails on a number (python3-dbusmock 0.28): answer it here.
  call(kManagerPath, kMock, "AddMethod", "(sssss)", "org.freedesktop.login1.Manager", "GetUser",
       "u", "o", "ret = '/org/freedesktop/login1/user/%u' % args[0]");
  const std::string user = std::string(kManagerPath) + "/user/" + std::to_string(getuid());
  call(user.c_str(), "org.freedesktop.DBus.Properties", "Set", "(ssv)",
       "org.freedesktop.login1.User", "Display", g_variant_new("(so)", sessionId, kSessionPath));
}

void MockLogind::removeSession() {
  call(kManagerPath, kMock, "RemoveObject", "(o)", kSessionPath);
  GVariantBuilder args;
  g_variant_builder_init(&args, G_VARIANT_TYPE("av"));
  g_variant_builder_add(&args, "v", g_variant_new_string(sessionId));
  g_variant_builder_add(&args, "v", g_variant_new_object_path(kSessionPath));
  call(kManagerPath, kMock, "EmitSignal", "(sssav)", "org.freedesktop.login1.Manager",
       "SessionRemoved", "so", &args);
}

}  // namespace e2e
