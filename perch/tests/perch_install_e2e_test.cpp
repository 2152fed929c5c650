// The real perch binary copied out of the build, beside its drawing library, beside a broken one,
// or with none: it draws from wherever it is installed, and a perch that cannot draw ends with
// status 1 instead of running on unseen.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "perch_lines.h"
#include "x_window_probe.h"
#include "xvfb_server.h"

namespace {

namespace fs = std::filesystem;
using e2e::ChildProcess;
using namespace std::chrono_literals;

enum class Library { copied, broken, missing };

// bin/perch under a fresh folder, with the drawing library where perch looks for it.
std::string install(const fs::path& root, Library library) {
  fs::create_directories(root / "bin");
  fs::copy_file(PERCH_BINARY, root / "bin/perch");
  const fs::path to = root / "bin" / PERCH_DRAWING_LIBRARY;
  if (library != Library::missing) fs::create_directories(to.parent_path());
  if (library == Library::copied) fs::copy_file(PERCH_DRAWING_LIBRARY_FILE, to);
  if (library == Library::broken) std::ofstream(to) << "not a shared library\n";
  return (root / "bin/perch").string();
}

std::optional<int> exitCode(std::optional<int> status) {
  if (!status || !WIFEXITED(*status)) return std::nullopt;
  return WEXITSTATUS(*status);
}

TEST(PerchInstallTest, DrawsFromWhereverItLiesAndEndsWhenItCannotDraw) {
  e2e::XvfbServer server("1280x800x24");
  ASSERT_TRUE(server.running());
  const fs::path root = fs::temp_directory_path() / ("perch-install-" + std::to_string(getpid()));
  fs::remove_all(root);

  const struct {
    const char* name;
    Library library;
    bool withAvatar;
    bool ready;  // says it is ready (the library's file is there; it fails when opened)
    int exit;    // 0: it runs and shows the mascot
  } cases[] = {
      {"installed elsewhere, with its library", Library::copied, false, true, 0},
      {"no library", Library::missing, false, false, 1},
      {"a broken library", Library::broken, false, true, 1},
      {"a broken library and an avatar to read first", Library::broken, true, false, 1},
  };
  e2e::XWindowProbe probe(server.display());
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> argv{install(root / std::to_string(n++), c.library)};
    if (c.withAvatar) argv.insert(argv.end(), {"--avatar", "/nonexistent.png"});
    ChildProcess perch(argv, {"DISPLAY=" + server.display()});
    if (c.ready) {
      ASSERT_EQ(perch.readLine(10s), kReady);
    }
    if (c.exit == 0) {
      ASSERT_TRUE(perch.write(R"({"command":"show","x":100,"y":100})"
                              "\n"));
      EXPECT_TRUE(probe.waitFor("perch", [](const e2e::WindowGeometry& g) {
        return g.viewable && g.width == 56 && g.height == 56;
      }));
      perch.closeStdin();
    }
    std::string unexpected;
    EXPECT_TRUE(perch.readsEndOfOutput(10s, &unexpected)) << unexpected;
    EXPECT_EQ(unexpected, "");
    EXPECT_EQ(exitCode(perch.waitExit(10s)), c.exit);
    EXPECT_EQ(perch.errorOutput(), "");
  }
  fs::remove_all(root);
}

}  // namespace
