// logind as a test stands it up: a private dbus-daemon playing the system bus, with
// python3-dbusmock's logind template on it holding one session of this user. A program under
// test reaches it through DBUS_SYSTEM_BUS_ADDRESS=address().
#pragma once

#include <memory>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace e2e {

class ChildProcess;

class MockLogind {
 public:
  // Session "c1" on seat0, active and unlocked.
  MockLogind();
  ~MockLogind();
  MockLogind(const MockLogind&) = delete;
  MockLogind& operator=(const MockLogind&) = delete;

  bool running() const { return connection_ != nullptr; }
  const std::string& address() const { return address_; }
  static constexpr const char* sessionId = "c1";

  // What logind would announce: each call returns once the mock has sent its signal.
  void setLocked(bool locked);
  void setActive(bool active);
  // Makes the session its user's display session (the user object's Display property).
  void makeDisplaySession();
  void removeSession();

 private:
  bool call(const char* path, const char* interface, const char* method, const char* format, ...);

  std::unique_ptr<ChildProcess> bus_;
  std::unique_ptr<ChildProcess> logind_;
  std::string address_;
  GDBusConnection* connection_ = nullptr;
};

}  // namespace e2e
