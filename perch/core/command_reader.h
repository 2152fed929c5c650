// Reads the host's command lines off a byte stream: LF or CRLF endings, a last line without a
// line break, bytes that are not UTF-8 replaced with U+FFFD, and lines over the cap skipped
// without being held in memory.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "mascot_protocol.h"

namespace perch {

// Longest line kept, line break not counted. A longer one is discarded up to its line feed.
inline constexpr std::size_t maxCommandLineBytes = 1 << 20;

// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD, one per maximal invalid subpart.
std::string replaceInvalidUtf8(std::string_view text);

class CommandLineSplitter {
 public:
  using LineHandler = std::function<void(std::string_view line)>;

  // `maxLineBytes` is the cap; only the fuzzer, which needs short lines to reach it fast, sets it.
  explicit CommandLineSplitter(std::size_t maxLineBytes = maxCommandLineBytes)
      : maxLineBytes_(maxLineBytes) {}

  // Hands every line completed by `bytes` to `onLine`, line break removed, UTF-8 repaired.
  void feed(std::string_view bytes, const LineHandler& onLine);
  // The end of input: a pending last line without a line break still counts.
  void finish(const LineHandler& onLine);
  // Bytes held for the line in progress (never more than the cap).
  std::size_t pendingBytes() const { return pending_.size(); }

 private:
  void emit(const LineHandler& onLine);

  std::size_t maxLineBytes_;
  std::string pending_;
  bool discarding_ = false;  // inside an over-long line, until its line feed
};

// Reads `fd` until its end, blocking; decodes each line and hands every command to `onCommand` in
// order, then calls `onEnd` once. Undecodable lines are dropped silently. Meant for a thread of
// its own.
void readCommands(int fd, const std::function<void(MascotCommand)>& onCommand,
                  const std::function<void()>& onEnd);

}  // namespace perch
