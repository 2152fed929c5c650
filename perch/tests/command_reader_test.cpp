#include "command_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

namespace perch {
namespace {

std::vector<std::string> split(const std::vector<std::string>& chunks, bool finish = true) {
  CommandLineSplitter splitter;
  std::vector<std::string> lines;
  auto onLine = [&](std::string_view line) { lines.emplace_back(line); };
  for (const auto& chunk : chunks) splitter.feed(chunk, onLine);
  if (finish) splitter.finish(onLine);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(CommandLineSplitterTest, LineEndingsAndTheLastLine) {
  EXPECT_EQ(split({"a\nb\r\nc"}), (Lines{"a", "b", "c"}));
  EXPECT_EQ(split({"a\n\n\r\n"}), (Lines{"a", "", ""}));
  EXPECT_EQ(split({"a\r\r\n"}), (Lines{"a\r"}));  // only the CR of a CRLF is a line break
  EXPECT_EQ(split({"no newline"}, /*finish=*/false), Lines{});
  EXPECT_EQ(split({""}), Lines{});
}

TEST(CommandLineSplitterTest, ChunkBoundariesDoNotMatter) {
  const std::string stream = "{\"command\":\"show\"}\r\n\xff\xfe{\"command\":\"hide\"}\nlast\r";
  const Lines whole = split({stream});
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    EXPECT_EQ(split({stream.substr(0, cut), stream.substr(cut)}), whole) << "cut at " << cut;
  }
  Lines bytes;
  std::vector<std::string> single;
  for (char c : stream) single.emplace_back(1, c);
  EXPECT_EQ(split(single), whole);
}

TEST(CommandLineSplitterTest, BadUtf8IsReplacedSoTheCommandStillDecodes) {
  Lines lines = split({"{\"command\":\"hide\",\"x2\":\"\xC0\xAF\xFF\"}\n"});
  ASSERT_EQ(lines.size(), 1u);
  auto command = decodeMascotCommand(lines[0]);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->kind, CommandKind::hide);
}

TEST(CommandLineSplitterTest, OverlongLinesAreSkippedWithoutHoldingThem) {
  CommandLineSplitter splitter;
  Lines lines;
  auto onLine = [&](std::string_view line) { lines.emplace_back(line); };
  const std::string chunk(64 * 1024, 'x');
  size_t mostHeld = 0;
  for (int i = 0; i < 48; ++i) {  // 3 MiB without a line feed
    splitter.feed(chunk, onLine);
    mostHeld = std::max(mostHeld, splitter.pendingBytes());
  }
  splitter.feed("tail\n{\"command\":\"hide\"}\n", onLine);
  EXPECT_LE(mostHeld, maxCommandLineBytes + 1);
  EXPECT_EQ(lines, (Lines{R"({"command":"hide"})"}));
}

TEST(CommandLineSplitterTest, TheCapIsOneMebibyteOfLineWithoutItsBreak) {
  const std::string command = R"({"command":"hide"})";
  const std::string atCap = command + std::string(maxCommandLineBytes - command.size(), ' ');
  EXPECT_EQ(split({atCap + "\r\n"}), Lines{atCap});
  EXPECT_EQ(split({atCap + "\n"}), Lines{atCap});
  EXPECT_EQ(split({atCap}), Lines{atCap});
  EXPECT_EQ(split({atCap + " \n", "next\n"}), Lines{"next"});
  EXPECT_EQ(split({atCap + " \r\n"}), Lines{});
  EXPECT_EQ(split({atCap + " "}), Lines{});
}

TEST(Utf8RepairTest, EachMaximalInvalidSubpartBecomesOneReplacement) {
  const std::string r = "\xEF\xBF\xBD";
  const std::pair<std::string, std::string> table[] = {
      {"plain", "plain"},
      {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
      {"a\xFF"
       "b",
       "a" + r + "b"},
      {"\xC0\xAF", r + r},                  // overlong
      {"\xE0\x80\xAF", r + r + r},          // overlong three-byte
      {"\xED\xA0\x80", r + r + r},          // surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},  // above U+10FFFF
      {"\xE2\x82", r},                      // truncated at the end
      {"\xE2\x82"
       "a",
       r + "a"},  // truncated in the middle
      {"\xF0\x9F\x98", r},
      {"\x80\x80", r + r},  // lone continuation bytes
      {std::string("nul\0in", 6), std::string("nul\0in", 6)},
  };
  for (const auto& [in, out] : table) EXPECT_EQ(replaceInvalidUtf8(in), out);
}

TEST(ReadCommandsTest, HandsOverEveryCommandInOrderThenTheEnd) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const std::string input =
      "{\"command\":\"show\",\"x\":1}\r\n"
      "garbage\n"
      "\n"
      "{\"command\":\"startFeedback\"}\n"
      "{\"command\":\"show\",\"x\":\"1\"}\n"
      "{\"command\":\"hide\"}";  // last line, no line feed
  ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
  close(fds[1]);
  std::vector<std::string> seen;
  readCommands(
      fds[0], [&](MascotCommand c) { seen.emplace_back(commandName(c.kind)); },
      [&] { seen.push_back("<end>"); });
  close(fds[0]);
  EXPECT_EQ(seen, (Lines{"show", "startFeedback", "hide", "<end>"}));
}

}  // namespace
}  // namespace perch
