#pragma once

#include <string_view>

namespace vigil {

// Writes `line` and one line feed to standard output and flushes at once, so the line reaches
// the host even through a pipe. False when the write failed (the host closed the pipe, say).
bool writeLineToStdout(std::string_view line);

}  // namespace vigil
