#include "backend_choice.h"

#include <cstdlib>
#include <string_view>

namespace vigil {
namespace {

std::optional<LinuxBackend> backendNamed(std::string_view name) {
  if (name == "x11") return LinuxBackend::x11;
  if (name == "evdev") return LinuxBackend::evdev;
  return std::nullopt;
}

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

SessionEnvironment sessionEnvironmentFromProcess() {
  return {environment("DISPLAY"), environment("WAYLAND_DISPLAY"), environment("XDG_SESSION_TYPE")};
}

std::optional<LinuxBackend> backendOverride(int argc, const char* const* argv) {
  constexpr std::string_view flag = "--backend";
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::optional<LinuxBackend> named;
    if (arg == flag && i + 1 < argc) {
      named = backendNamed(argv[i + 1]);
    } else if (arg.size() > flag.size() && arg.substr(0, flag.size()) == flag &&
               arg[flag.size()] == '=') {
      named = backendNamed(arg.substr(flag.size() + 1));
    }
    if (named) return named;
  }
  return std::nullopt;
}

LinuxBackend chooseLinuxBackend(int argc, const char* const* argv,
                                const SessionEnvironment& session,
                                const std::function<bool()>& displayIsXwayland) {
  if (auto chosen = backendOverride(argc, argv)) return *chosen;
  if (session.display.empty()) return LinuxBackend::evdev;
  if (!session.waylandDisplay.empty() || session.sessionType == "wayland") {
    return LinuxBackend::evdev;
  }
  return displayIsXwayland() ? LinuxBackend::evdev : LinuxBackend::x11;
}

}  // namespace vigil
