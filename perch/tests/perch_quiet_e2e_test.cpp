// The real perch binary under a private Xvfb where its libraries have something to complain
// about: a broken or missing font configuration, an avatar that is not an image, GLib's debug
// messages turned on. Its standard error stays empty and it still draws and answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "x_window_probe.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::WindowGeometry;
using namespace std::chrono_literals;

std::string writeFile(const std::string& dir, const std::string& name, const std::string& text) {
  const std::string path = dir + "/" + name;
  std::ofstream(path) << text;
  return path;
}

TEST(PerchQuietTest, LibraryComplaintsNeverReachStandardError) {
  e2e::XvfbServer server("1280x800x24");
  ASSERT_TRUE(server.running());
  char dirTemplate[] = "/tmp/perch-quiet-XXXXXX";
  ASSERT_TRUE(mkdtemp(dirTemplate));
  const std::string dir = dirTemplate;
  const std::string broken = writeFile(dir, "broken.conf", "<fontconfig><dir>unclosed");
  const std::string notAnImage = writeFile(dir, "avatar.png", "this is not a picture\n");

  const struct {
    const char* name;
    std::vector<std::string> args, env;
  } cases[] = {
      {"broken font configuration", {}, {"FONTCONFIG_FILE=" + broken}},
      {"missing font configuration", {}, {"FONTCONFIG_FILE=" + dir + "/absent.conf"}},
      {"an avatar that is not an image", {"--avatar", notAnImage}, {}},
      {"GLib's debug messages on", {}, {"G_MESSAGES_DEBUG=all"}},
  };
  e2e::XWindowProbe probe(server.display());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{PERCH_BINARY};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::vector<std::string> env = c.env;
    env.push_back("DISPLAY=" + server.display());
    ChildProcess perch(argv, env);
    ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");
    // The monogram and the bubble need a font; the feedback draws every frame for 3 s.
    ASSERT_TRUE(perch.write(R"({"command":"show","x":100,"y":100})"
                            "\n"
                            R"({"command":"startFeedback"})"
                            "\n"));
    EXPECT_TRUE(probe.waitFor("perch", [](const WindowGeometry& g) {
      return g.viewable && g.width == 220 && g.height == 144;
    }));
    EXPECT_EQ(perch.readLine(), R"({"event":"startFeedbackComplete"})");
    perch.closeStdin();
    EXPECT_TRUE(perch.readsEndOfOutput(5s));
    EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit(5s)));
    EXPECT_EQ(perch.errorOutput(), "");
  }
  std::system(("rm -rf " + dir).c_str());
}

}  // namespace
