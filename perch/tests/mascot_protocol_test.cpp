#include "mascot_protocol.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace perch {
namespace {

MascotCommand command(CommandKind kind, std::optional<double> x = {}, std::optional<double> y = {},
                      std::optional<double> width = {}, std::optional<double> height = {}) {
  return MascotCommand{kind, x, y, width, height};
}

TEST(MascotCommandTest, DecodesWhatTheHostSends) {
  const std::pair<std::string, MascotCommand> table[] = {
      {R"({"command":"show"})", command(CommandKind::show)},
      {R"({"command":"show","x":null})", command(CommandKind::show)},
      {R"({"command":"show","x":100,"y":50})", command(CommandKind::show, 100, 50)},
      {R"({"command":"show","x":-10.25,"y":1e3,"width":300,"height":0})",
       command(CommandKind::show, -10.25, 1000, 300, 0)},
      {R"({"command":"hide","extra":true})", command(CommandKind::hide)},
      {R"({"command":"hide","X":"not a number"})",
       command(CommandKind::hide)},                                  // keys match exactly
      {R"(  {"command":"Show"}  )", command(CommandKind::unknown)},  // decodes; does nothing
      {R"({"y":2,"command":"quit","x":1})", command(CommandKind::quit, 1, 2)},
      {R"({"command":"show","x":18446744073709551615})",
       command(CommandKind::show, 18446744073709551615.0)},
  };
  for (const auto& [line, expected] : table) {
    EXPECT_EQ(decodeMascotCommand(line), expected) << line;
  }
}

TEST(MascotCommandTest, AnyBreakDropsTheWholeLine) {
  const char* table[] = {
      "",
      "   ",
      "not json",
      R"({"command":"show")",
      R"(["show"])",
      R"("show")",
      R"({"x":1})",
      R"({"command":null})",
      R"({"command":3})",
      R"({"command":"show","x":"10"})",
      R"({"command":"show","y":true})",
      R"({"command":"show","width":[1]})",
      R"({"command":"show","height":{}})",
      R"({"command":"show","x":1e400})",  // too large for a double
      R"({"command":"show","y":-1e309})",
      R"({"command":"show","x":NaN})",
      R"({"command":"hide"} {"command":"show"})",
  };
  for (const char* line : table) {
    EXPECT_EQ(decodeMascotCommand(line), std::nullopt) << line;
  }
}

TEST(MascotEventTest, EncodesCompactlyInFieldOrderLeavingAbsentFieldsOut) {
  EXPECT_EQ(encodeMascotEvent({"status", {}, {}, "ready"}),
            R"({"event":"status","message":"ready"})");
  EXPECT_EQ(encodeMascotEvent({"startFeedbackComplete", {}, {}, {}}),
            R"({"event":"startFeedbackComplete"})");
  EXPECT_EQ(encodeMascotEvent({"snap", 240, 500, {}}), R"({"event":"snap","x":240,"y":500})");
  EXPECT_EQ(encodeMascotEvent({"snap", -3, 0, {}}), R"({"event":"snap","x":-3,"y":0})");
  EXPECT_EQ(encodeMascotEvent({"snap", 0.5, 1, "m"}),
            R"({"event":"snap","x":0.5,"y":1,"message":"m"})");
}

TEST(MascotEventTest, NumbersReadBackAsExactlyTheDoubleGiven) {
  const double values[] = {240.0,
                           0.1,
                           1.0 / 3,
                           -0.0,
                           123456.789012345678,
                           1e-300,
                           9.1e15,
                           1e300,
                           -2.5e-7,
                           4503599627370497.0,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min()};
  for (double v : values) {
    auto line = encodeMascotEvent({"snap", v, v, {}});
    ASSERT_TRUE(line) << v;
    auto back = nlohmann::json::parse(*line);
    EXPECT_EQ(back["x"].get<double>(), v) << *line;
    EXPECT_EQ(std::signbit(back["y"].get<double>()), std::signbit(v)) << *line;
  }
}

TEST(MascotEventTest, EventsThatCannotBeEncodedAreDropped) {
  EXPECT_EQ(encodeMascotEvent({"snap", std::nan(""), 1, {}}), std::nullopt);
  EXPECT_EQ(encodeMascotEvent({"snap", 1, INFINITY, {}}), std::nullopt);
  EXPECT_EQ(encodeMascotEvent({"status", {}, {}, std::string("\xC3\x28")}), std::nullopt);
}

TEST(AvatarPathTest, TheArgumentAfterTheFirstOptionVerbatim) {
  using Args = std::vector<std::string>;
  EXPECT_EQ(parseAvatarPath(Args{"perch", "--avatar", "/a.png"}), "/a.png");
  EXPECT_EQ(parseAvatarPath(Args{"perch", "--avatar", "/a.png", "--avatar", "/b.png"}), "/a.png");
  EXPECT_EQ(parseAvatarPath(Args{"perch", "x", "--avatar"}), std::nullopt);
  EXPECT_EQ(parseAvatarPath(Args{"perch", "--avatar", ""}), "");
  EXPECT_EQ(parseAvatarPath(Args{"perch", "--avatar", "--avatar", "/a.png"}), "--avatar");
  EXPECT_EQ(parseAvatarPath(Args{"perch", "--avatar=/a.png"}), std::nullopt);
  EXPECT_EQ(parseAvatarPath(Args{"perch", " --avatar", "/a.png"}), std::nullopt);
  EXPECT_EQ(parseAvatarPath(Args{"perch"}), std::nullopt);
  EXPECT_EQ(parseAvatarPath(Args{"--avatar", "p"}), "p");  // the program path counts too
}

}  // namespace
}  // namespace perch
