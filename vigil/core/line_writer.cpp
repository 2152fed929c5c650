#include "line_writer.h"

#include <cstdio>

namespace vigil {

bool writeLineToStdout(std::string_view line) {
  bool written = std::fwrite(line.data(), 1, line.size(), stdout) == line.size() &&
                 std::fputc('\n', stdout) != EOF;
  return std::fflush(stdout) == 0 && written;
}

}  // namespace vigil
