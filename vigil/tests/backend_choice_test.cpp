#include "backend_choice.h"

#include <gtest/gtest.h>

#include <vector>

namespace vigil {
namespace {

constexpr auto X = LinuxBackend::x11;
constexpr auto E = LinuxBackend::evdev;

TEST(BackendChoiceTest, X11OnlyForAnXServerOfItsOwnOutsideWayland) {
  const struct {
    const char* name;
    std::vector<const char*> args;
    SessionEnvironment session;
    bool xwayland;
    LinuxBackend chosen;
    bool asksServer;
  } cases[] = {
      {"X session", {}, {":0", "", "x11"}, false, X, true},
      {"X session without a session type", {}, {":1", "", ""}, false, X, true},
      {"Xwayland display seen by its outputs", {}, {":0", "", ""}, true, E, true},
      {"Wayland session", {}, {":0", "wayland-1", "wayland"}, false, E, false},
      {"Wayland display alone", {}, {":0", "wayland-0", ""}, false, E, false},
      {"Wayland session type alone", {}, {":0", "", "wayland"}, false, E, false},
      {"text console", {}, {"", "", "tty"}, false, E, false},
      {"no display at all", {}, {"", "", ""}, false, E, false},
      {"override to x11 under Wayland",
       {"--backend", "x11"},
       {":0", "wayland-0", "wayland"},
       false,
       X,
       false},
      {"override to evdev in an X session",
       {"--backend=evdev"},
       {":0", "", "x11"},
       false,
       E,
       false},
      {"override beside other flags",
       {"--prompt-accessibility", "--backend", "evdev"},
       {":0", "", ""},
       false,
       E,
       false},
      {"unknown value is ignored", {"--backend", "wayland"}, {":0", "", ""}, false, X, true},
      {"unknown value then a known one",
       {"--backend=xx", "--backend=evdev"},
       {":0", "", ""},
       false,
       E,
       false},
      {"flag without a value", {"--backend"}, {":0", "", ""}, false, X, true},
      {"other capitals are not the flag", {"--Backend=evdev"}, {":0", "", ""}, false, X, true},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"vigil"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    bool asked = false;
    LinuxBackend chosen =
        chooseLinuxBackend(static_cast<int>(argv.size()), argv.data(), c.session, [&] {
          asked = true;
          return c.xwayland;
        });
    EXPECT_EQ(chosen, c.chosen) << c.name;
    EXPECT_EQ(asked, c.asksServer) << c.name;
  }
}

}  // namespace
}  // namespace vigil
