// The mascot's wire records: commands read from the host, one JSON object per line, and events
// written back the same way.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perch {

// What the host can ask for; a name that is none of these decodes as `unknown`, which does nothing.
enum class CommandKind { show, hide, startFeedback, stopFeedback, quit, unknown };

struct MascotCommand {
  CommandKind kind = CommandKind::unknown;
  std::optional<double> x, y, width, height;
  bool operator==(const MascotCommand&) const = default;
};

// The name the host writes for `kind` ("show", ...); empty for `unknown`.
std::string_view commandName(CommandKind kind);

struct MascotEvent {
  std::string event;
  std::optional<double> x, y;
  std::optional<std::string> message;
};

// One command from one line. Nothing when the line is not a JSON object, "command" is missing or
// not a string, or x, y, width or height holds anything but a finite number or null. Other keys
// are ignored.
std::optional<MascotCommand> decodeMascotCommand(std::string_view line);

// The event's line, compact, keys in field order, absent fields left out. Nothing when it cannot
// be encoded: a coordinate that is not finite, a message that is not UTF-8.
std::optional<std::string> encodeMascotEvent(const MascotEvent& event);

// The argument after the first "--avatar", verbatim; nothing when there is none.
std::optional<std::string> parseAvatarPath(const std::vector<std::string>& arguments);

}  // namespace perch
