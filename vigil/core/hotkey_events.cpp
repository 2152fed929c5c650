#include "hotkey_events.h"

#include <nlohmann/json.hpp>

namespace vigil {
namespace {

using Json = nlohmann::ordered_json;

const char* stateName(HotkeyState state) { return state == HotkeyState::down ? "down" : "up"; }

Json toJson(const HotkeyEvent& e) {
  return Json{{"event", "modifier"}, {"key", e.key}, {"state", stateName(e.state)}};
}

Json toJson(const CapabilityEvent& e) {
  return Json{{"event", "capability"},
              {"platform", e.platform},
              {"supportsFn", e.supportsFn},
              {"supportsModifierOnly", e.supportsModifierOnly},
              {"requiresAccessibilityPermission", e.requiresAccessibilityPermission}};
}

Json toJson(const StatusEvent& e) {
  Json j{{"event", "status"}, {"state", e.state}};
  if (e.message) j["message"] = *e.message;
  return j;
}

Json toJson(const ErrorEvent& e) {
  return Json{{"event", "error"}, {"code", e.code}, {"message", e.message}};
}

std::optional<std::string> stringAt(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<bool> boolAt(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || !it->is_boolean()) return std::nullopt;
  return it->get<bool>();
}

std::optional<MonitorEvent> fromJson(const Json& j) {
  if (!j.is_object()) return std::nullopt;
  auto kind = stringAt(j, "event");
  if (!kind) return std::nullopt;
  if (*kind == "modifier") {
    auto key = stringAt(j, "key");
    auto state = stringAt(j, "state");
    if (!key || !state || (*state != "down" && *state != "up")) return std::nullopt;
    return HotkeyEvent{*key, *state == "down" ? HotkeyState::down : HotkeyState::up};
  }
  if (*kind == "capability") {
    auto platform = stringAt(j, "platform");
    auto fn = boolAt(j, "supportsFn");
    auto modifierOnly = boolAt(j, "supportsModifierOnly");
    auto permission = boolAt(j, "requiresAccessibilityPermission");
    if (!platform || !fn || !modifierOnly || !permission) return std::nullopt;
    return CapabilityEvent{*platform, *fn, *modifierOnly, *permission};
  }
  if (*kind == "status") {
    auto state = stringAt(j, "state");
    if (!state) return std::nullopt;
    StatusEvent status{*state, std::nullopt};
    if (auto it = j.find("message"); it != j.end() && !it->is_null()) {
      if (!it->is_string()) return std::nullopt;
      status.message = it->get<std::string>();
    }
    return status;
  }
  if (*kind == "error") {
    auto code = stringAt(j, "code");
    auto message = stringAt(j, "message");
    if (!code || !message) return std::nullopt;
    return ErrorEvent{*code, *message};
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> encodeEventLine(const MonitorEvent& event) {
  try {
    Json j = std::visit([](const auto& e) { return toJson(e); }, event);
    return j.dump();  // compact; throws on strings that are not UTF-8
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

std::optional<MonitorEvent> decodeEventLine(std::string_view line) {
  Json j = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (j.is_discarded()) return std::nullopt;
  return fromJson(j);
}

}  // namespace vigil
