// What the command reader's fuzzers check its lines against: framing done the plain way on the
// whole stream, and a UTF-8 test that does not share the reader's code.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "command_reader.h"

namespace perch::fuzz {

inline void check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

inline bool isValidUtf8(const std::string& text) {
  // The encoder drops ill-formed bytes under one handler and writes U+FFFD under the other: the
  // two agree only on valid UTF-8. (No exceptions: they would cost most of the fuzzer's time.)
  using Json = nlohmann::json;
  const Json value(text);
  return value.dump(-1, ' ', false, Json::error_handler_t::ignore) ==
         value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The lines a stream holds, framed without chunks: a piece ended by a line feed is a line (empty
// or not), a last piece without one is a line when it holds a byte, one carriage return before the
// end is dropped, and a line longer than the cap is skipped. Bytes are left unrepaired.
inline std::vector<std::string> referenceLines(std::string_view stream, std::size_t cap) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < stream.size()) {
    const std::size_t newline = stream.find('\n', start);
    const bool ended = newline != std::string_view::npos;
    std::string_view piece = stream.substr(start, ended ? newline - start : std::string_view::npos);
    start = ended ? newline + 1 : stream.size();
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    if (piece.size() <= cap) lines.emplace_back(piece);
  }
  return lines;
}

// The reader's lines against the reference: the same however the input was cut, no line feed,
// valid UTF-8 always, valid lines unchanged and ill-formed ones carrying U+FFFD.
inline void checkLines(std::string_view stream, std::size_t cap,
                       const std::vector<std::string>& lines) {
  const std::vector<std::string> reference = referenceLines(stream, cap);
  check(lines.size() == reference.size(), "the lines do not depend on where the input was cut");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    check(lines[i] == replaceInvalidUtf8(reference[i]),
          "each line is the same however the input was cut");
    check(lines[i].find('\n') == std::string::npos, "a line holds no line feed");
    check(isValidUtf8(lines[i]), "every line is valid UTF-8");
    if (isValidUtf8(reference[i])) {
      check(lines[i] == reference[i], "a line of valid UTF-8 is handed on unchanged");
    } else {
      check(lines[i].find("\xEF\xBF\xBD") != std::string::npos,
            "ill-formed UTF-8 is replaced with U+FFFD");
    }
  }
}

}  // namespace perch::fuzz
