// Which backend vigil runs on Linux, decided from the session it finds itself in.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vigil {

enum class LinuxBackend { x11, evdev };

struct SessionEnvironment {
  std::string display;         // $DISPLAY
  std::string waylandDisplay;  // $WAYLAND_DISPLAY
  std::string sessionType;     // $XDG_SESSION_TYPE
};

SessionEnvironment sessionEnvironmentFromProcess();

// "--backend x11", "--backend=evdev" and so on; the first known value wins, others are ignored.
std::optional<LinuxBackend> backendOverride(int argc, const char* const* argv);

// X11 where $DISPLAY names an X server of its own and no Wayland session runs: there XInput 2
// raw events hear every key without any permission. The kernel's devices everywhere else: under
// Wayland an X client hears keys only while one of its own windows has the focus. The X server
// is asked whether it is Xwayland (`displayIsXwayland`) only when the environment leaves it open.
LinuxBackend chooseLinuxBackend(int argc, const char* const* argv,
                                const SessionEnvironment& session,
                                const std::function<bool()>& displayIsXwayland);

}  // namespace vigil
