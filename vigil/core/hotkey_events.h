// The records vigil writes to its host, one compact JSON object per line.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vigil {

enum class HotkeyState { down, up };

// One tracked modifier key going down or up: {"event":"modifier","key":...,"state":...}.
struct HotkeyEvent {
  std::string key;
  HotkeyState state = HotkeyState::down;
  bool operator==(const HotkeyEvent&) const = default;
};

// What this monitor can do on the platform it runs on.
struct CapabilityEvent {
  std::string platform;
  bool supportsFn = false;
  bool supportsModifierOnly = false;
  bool requiresAccessibilityPermission = false;
  bool operator==(const CapabilityEvent&) const = default;
};

// A stage of start-up or of the key source's life: "starting", "permission_required", "ready",
// "degraded".
struct StatusEvent {
  std::string state;
  std::optional<std::string> message;
  bool operator==(const StatusEvent&) const = default;
};

// A failure the host should know by code.
struct ErrorEvent {
  std::string code;
  std::string message;
  bool operator==(const ErrorEvent&) const = default;
};

using MonitorEvent = std::variant<HotkeyEvent, CapabilityEvent, StatusEvent, ErrorEvent>;

// The event line for a record, without its line feed; nothing when it cannot be encoded
// (a string that is not UTF-8, say).
std::optional<std::string> encodeEventLine(const MonitorEvent& event);

// Reads a record back from one line; nothing when the line is not exactly such a record
// (wrong "event", a missing key, a key of the wrong type, a state that is neither "down" nor "up").
std::optional<MonitorEvent> decodeEventLine(std::string_view line);

}  // namespace vigil
