// Fuzzes perch's command path on the fake desktop, the slow half (perch_line_fuzzer is the fast
// one for the reader and decoder alone): arbitrary bytes, cut into chunks at points the
// input chooses, go through CommandLineSplitter; each line is decoded and carried out by the
// controller, and the manual clock moves on between lines so ticks and completions run.
//
// The input's tail (read by FuzzedDataProvider's integer calls) picks the screens, the chunk
// lengths, how often a chunk repeats (to reach the line cap) and the clock steps; its head is the
// byte stream.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_reader.h"
#include "fake_mascot_platform.h"
#include "floating_mascot_controller.h"
#include "line_checks.h"
#include "mascot_constants.h"
#include "mascot_protocol.h"

namespace {

using namespace perch;
using fuzz::check;
using fuzz::checkLines;

constexpr std::size_t kMaxStreamBytes = 3 << 19;  // 1.5 MiB: enough to cross the 1 MiB line cap
const std::string kReadyLine = R"({"event":"status","message":"ready"})";
const std::string kCompleteLine = R"({"event":"startFeedbackComplete"})";

// What the host's commands must have done, kept from the commands alone.
struct Expected {
  bool visible = false;
  bool starting = false;
  bool quit = false;
  double completionDue = 0;
  Size expandedSize{expandedWindowWidth, expandedWindowHeight};
  std::size_t completions = 0;

  void apply(const MascotCommand& c, double now) {
    if (c.kind == CommandKind::show) {
      expandedSize = {c.width.value_or(expandedWindowWidth),
                      c.height.value_or(expandedWindowHeight)};
      visible = true;
    } else if (c.kind == CommandKind::hide) {
      starting = false;
      visible = false;
    } else if (c.kind == CommandKind::startFeedback) {
      starting = true;
      completionDue = now + startFeedbackSeconds;
    } else if (c.kind == CommandKind::stopFeedback) {
      starting = false;
    } else if (c.kind == CommandKind::quit) {
      quit = true;
    }
  }
  void advanceTo(double end) {
    if (starting && completionDue <= end) {
      starting = false;
      ++completions;
    }
  }
};

class Session {
 public:
  explicit Session(int screens) : controller_(platform_, std::nullopt) {
    switch (screens) {
      case 0:
        break;  // the fake's one 1440 x 900 screen
      case 1:   // two screens side by side, the right one shorter and lower
        platform_.screenFrames = {{0, 0, 1280, 800}, {1280, 0, 1024, 600}};
        break;
      case 2:
        platform_.screenFrames.clear();
        break;
      default:
        platform_.hasMainScreen = false;
        break;
    }
    controller_.applicationDidFinishLaunching();
    checkState();
  }

  void onLine(std::string_view line, FuzzedDataProvider& provider) {
    lines_.emplace_back(line);
    if (expected_.quit) return;  // the backend carries out nothing after "quit"
    if (auto command = decodeMascotCommand(line)) {
      controller_.dispatch(*command);
      expected_.apply(*command, platform_.now());
      checkState();
    }
    if (expected_.quit) return;
    advance(provider.ConsumeIntegralInRange<int>(0, 32) / 16.0);
  }

  void advance(double seconds) {
    const double end = platform_.now() + seconds;
    platform_.advance(seconds);
    expected_.advanceTo(end);
    checkState();
  }

  const std::vector<std::string>& lines() const { return lines_; }
  bool quit() const { return expected_.quit; }

 private:
  void checkState() {
    FloatingMascotView& view = controller_.mascotView();
    check(platform_.terminated == expected_.quit, "terminated exactly after \"quit\"");
    check(view.isStarting() == expected_.starting,
          "the feedback runs from its start until it completes, stops or the panel hides");
    check(platform_.timersRunning() == (view.isStarting() ? 1 : 0),
          "the animation timer runs exactly while the feedback runs");
    check(platform_.visible == expected_.visible, "shown after \"show\", hidden after \"hide\"");
    if (!platform_.appliedFrames.empty()) {
      const Rect frame = platform_.frame;
      if (view.isStarting()) {
        check(frame.width == expected_.expandedSize.width &&
                  frame.height == expected_.expandedSize.height,
              "the panel has the host's size while the feedback runs");
      } else {
        check(frame.width == idleWindowSize && frame.height == idleWindowSize,
              "the panel is the idle square while no feedback runs");
      }
      const Rect bounds = view.bounds();
      check(bounds.width == frame.width && bounds.height == frame.height,
            "the view fills the panel");
    }
    const std::vector<std::string>& written = platform_.lines;
    check(!written.empty() && written.front() == kReadyLine, "\"ready\" is the first line");
    for (std::size_t i = checkedEvents_; i < written.size(); ++i) {
      const auto json = nlohmann::ordered_json::parse(written[i], nullptr, false);
      check(json.is_object() && json.contains("event") && json["event"].is_string(),
            "every event line is a JSON object with an \"event\" string");
      check(json.dump() == written[i], "event lines are compact");
      if (i > 0) check(written[i] == kCompleteLine, "commands alone write only completions");
    }
    checkedEvents_ = written.size();
    check(written.size() - 1 == expected_.completions,
          "one completion per feedback left to run its whole period");
  }

  FakeMascotPlatform platform_;
  FloatingMascotController controller_;
  Expected expected_;
  std::vector<std::string> lines_;
  std::size_t checkedEvents_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  Session session(provider.ConsumeIntegralInRange<int>(0, 3));
  CommandLineSplitter splitter;
  const auto onLine = [&](std::string_view line) { session.onLine(line, provider); };

  std::string stream;
  while (provider.remaining_bytes() > 0) {
    const auto length = provider.ConsumeIntegralInRange<std::size_t>(0, 512);
    const auto repeatChoice = provider.ConsumeIntegral<std::uint8_t>();
    const std::string chunk = provider.ConsumeBytesAsString(length);
    // A chunk without a line feed now and then repeats, up to 32768 times, so that a line can
    // outgrow the cap; a chunk with one goes once, so the lines stay as many as the input makes.
    std::size_t repeat = repeatChoice < 250 || chunk.find('\n') != std::string::npos
                             ? 1
                             : std::size_t{1} << ((repeatChoice - 250) * 3);
    while (repeat > 1 && stream.size() + chunk.size() * repeat > kMaxStreamBytes) repeat /= 2;
    for (std::size_t i = 0; i < repeat; ++i) {
      stream += chunk;
      splitter.feed(chunk, onLine);
      check(splitter.pendingBytes() <= maxCommandLineBytes + 1,
            "the splitter holds at most the cap plus one byte");
    }
  }
  splitter.finish(onLine);
  if (!session.quit()) session.advance(startFeedbackSeconds + 0.5);

  checkLines(stream, maxCommandLineBytes, session.lines());
  return 0;
}
