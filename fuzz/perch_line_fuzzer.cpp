// Fuzzes perch's command reading alone, fast: arbitrary bytes, cut into chunks at points the input
// chooses, go through CommandLineSplitter with a cap the input picks (mostly a few bytes, so the
// over-long path is reached without megabytes), and every line goes through the decoder. Nothing
// is carried out: perch_reader_fuzzer does that on the fake desktop.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "command_reader.h"
#include "line_checks.h"
#include "mascot_protocol.h"

namespace {

using namespace perch;
using fuzz::check;

bool finiteOrAbsent(const std::optional<double>& value) { return !value || std::isfinite(*value); }

// A decoded command holds only finite numbers, comes from a JSON object, and reads back the same
// when written out as the host would write it.
void checkDecoded(const std::string& line) {
  const std::optional<MascotCommand> command = decodeMascotCommand(line);
  if (!command) return;
  check(nlohmann::json::accept(line), "only a JSON line decodes");
  check(finiteOrAbsent(command->x) && finiteOrAbsent(command->y) &&
            finiteOrAbsent(command->width) && finiteOrAbsent(command->height),
        "a decoded command holds only finite numbers");
  // An unknown name stands for every other name.
  const std::string_view name = commandName(command->kind);
  nlohmann::json written = {{"command", name.empty() ? "no such command" : std::string(name)}};
  for (auto [key, value] :
       {std::pair{"x", command->x}, std::pair{"y", command->y}, std::pair{"width", command->width},
        std::pair{"height", command->height}}) {
    if (value) written[key] = *value;
  }
  const std::optional<MascotCommand> again = decodeMascotCommand(written.dump());
  check(again && *again == *command, "a decoded command reads back the same");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::size_t cap = provider.ConsumeIntegral<std::uint8_t>() < 16
                              ? maxCommandLineBytes
                              : provider.ConsumeIntegralInRange<std::size_t>(0, 64);
  CommandLineSplitter splitter(cap);
  std::vector<std::string> lines;
  const auto onLine = [&](std::string_view line) { lines.emplace_back(line); };

  std::string stream;
  while (provider.remaining_bytes() > 0) {
    const std::string chunk =
        provider.ConsumeBytesAsString(provider.ConsumeIntegralInRange<std::size_t>(0, 128));
    stream += chunk;
    splitter.feed(chunk, onLine);
    check(splitter.pendingBytes() <= cap + 1, "the splitter holds at most the cap plus one byte");
  }
  splitter.finish(onLine);

  fuzz::checkLines(stream, cap, lines);
  for (const std::string& line : lines) checkDecoded(line);
  return 0;
}
