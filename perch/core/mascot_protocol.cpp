#include "mascot_protocol.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>

namespace perch {
namespace {

using Json = nlohmann::json;
using OrderedJson = nlohmann::ordered_json;

// Reads an optional number field; false when the field holds anything but a finite number or null.
bool readNumber(const Json& object, const char* key, std::optional<double>& out) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return true;
  if (!it->is_number()) return false;
  double value = it->get<double>();
  // nlohmann already refuses a number beyond a double ("1e400") as a parse error; this stays in
  // case a build of the library ever hands one on as infinity.
  if (!std::isfinite(value)) return false;
  out = value;
  return true;
}

// Whole numbers are written without a fraction (240, not 240.0); both read back exactly.
OrderedJson numberValue(double value) {
  constexpr double exactIntegerLimit = 9007199254740992.0;  // 2^53
  if (value == std::trunc(value) && std::fabs(value) < exactIntegerLimit &&
      !(value == 0 && std::signbit(value))) {
    return static_cast<std::int64_t>(value);
  }
  return value;
}

constexpr std::pair<CommandKind, std::string_view> kCommandNames[] = {
    {CommandKind::show, "show"},
    {CommandKind::hide, "hide"},
    {CommandKind::startFeedback, "startFeedback"},
    {CommandKind::stopFeedback, "stopFeedback"},
    {CommandKind::quit, "quit"},
};

CommandKind commandKind(std::string_view name) {
  for (const auto& [kind, known] : kCommandNames) {
    if (name == known) return kind;
  }
  return CommandKind::unknown;
}

}  // namespace

std::string_view commandName(CommandKind kind) {
  for (const auto& [known, name] : kCommandNames) {
    if (kind == known) return name;
  }
  return {};
}

std::optional<MascotCommand> decodeMascotCommand(std::string_view line) {
  Json j = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded() || !j.is_object()) return std::nullopt;
  auto command = j.find("command");
  if (command == j.end() || !command->is_string()) return std::nullopt;
  MascotCommand decoded;
  decoded.kind = commandKind(command->get_ref<const std::string&>());
  if (!readNumber(j, "x", decoded.x) || !readNumber(j, "y", decoded.y) ||
      !readNumber(j, "width", decoded.width) || !readNumber(j, "height", decoded.height)) {
    return std::nullopt;
  }
  return decoded;
}

std::optional<std::string> encodeMascotEvent(const MascotEvent& event) {
  OrderedJson j;
  j["event"] = event.event;
  for (auto [key, value] : {std::pair{"x", event.x}, std::pair{"y", event.y}}) {
    if (!value) continue;
    if (!std::isfinite(*value)) return std::nullopt;
    j[key] = numberValue(*value);
  }
  if (event.message) j["message"] = *event.message;
  try {
    return j.dump();
  } catch (const OrderedJson::exception&) {
    return std::nullopt;  // a string that is not UTF-8
  }
}

std::optional<std::string> parseAvatarPath(const std::vector<std::string>& arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] != "--avatar") continue;
    if (i + 1 < arguments.size()) return arguments[i + 1];
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace perch
