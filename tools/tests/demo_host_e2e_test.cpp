// The demo host's scripted run under a private Xvfb, with the real vigil, perch and xdg-open:
// each thing the user does reaches perch as the command a host would send.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process.h"
#include "xvfb_server.h"

namespace {

using namespace std::chrono_literals;

// The first line at or after `from` that starts with `prefix`; lines.size() when there is none.
std::size_t find(const std::vector<std::string>& lines, std::size_t from,
                 const std::string& prefix) {
  while (from < lines.size() && lines[from].rfind(prefix, 0) != 0) ++from;
  return from;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
}

TEST(DemoHostTest, KeyClickAndDragEachReachPerch) {
  e2e::XvfbServer server("1280x800x24");
  ASSERT_TRUE(server.running()) << "Xvfb did not start";
  // An X session on this server alone, whatever session the tests run in.
  e2e::ChildProcess host(
      {DEMO_HOST_BINARY, "--script", "--bin", BIN_DIR},
      {"DISPLAY=" + server.display(), "XDG_SESSION_TYPE=x11", "WAYLAND_DISPLAY="});
  std::vector<std::string> lines;
  while (auto line = host.readLine(30s)) lines.push_back(*line);
  EXPECT_TRUE(e2e::exitedCleanly(host.waitExit(10s)));
  const std::string output = joined(lines);

  // Holding right Alt: vigil reports it and the next command to perch starts the feedback; its
  // release stops it.
  const std::size_t down =
      find(lines, 0, R"(vigil: {"event":"modifier","key":"right_alt","state":"down"})");
  ASSERT_LT(down, lines.size()) << output;
  std::size_t sent = find(lines, down, "to perch: ");
  ASSERT_LT(sent, lines.size()) << output;
  EXPECT_EQ(lines[sent], R"(to perch: {"command":"startFeedback"})") << output;
  const std::size_t up =
      find(lines, down, R"(vigil: {"event":"modifier","key":"right_alt","state":"up"})");
  sent = find(lines, up, "to perch: ");
  ASSERT_LT(sent, lines.size()) << output;
  EXPECT_EQ(lines[sent], R"(to perch: {"command":"stopFeedback"})") << output;

  // The click: perch opens the deep link, xdg-open hands it to the host's own handler, and the
  // host starts the feedback, which then runs its course.
  const std::size_t link = find(lines, up, "link: ");
  ASSERT_LT(link, lines.size()) << output;
  EXPECT_EQ(lines[link], "link: halcy://voice-capture/silent?source=mascot");
  sent = find(lines, link, "to perch: ");
  ASSERT_LT(sent, lines.size()) << output;
  EXPECT_EQ(lines[sent], R"(to perch: {"command":"startFeedback"})") << output;
  EXPECT_LT(find(lines, sent, R"(perch: {"event":"startFeedbackComplete"})"), lines.size())
      << output;

  // The drag: 300 right and 200 down from the "show" at (200, 150); the snap goes back in the
  // next "show".
  const std::size_t snap = find(lines, link, R"(perch: {"event":"snap")");
  ASSERT_LT(snap, lines.size()) << output;
  EXPECT_EQ(lines[snap], R"(perch: {"event":"snap","x":500,"y":350})");
  sent = find(lines, snap, "to perch: ");
  ASSERT_LT(sent, lines.size()) << output;
  EXPECT_EQ(lines[sent], R"(to perch: {"command":"show","x":500,"y":350})") << output;
}

}  // namespace
