#include "hotkey_events.h"

#include <gtest/gtest.h>

namespace vigil {
namespace {

TEST(HotkeyEventsTest, EncodesEachRecordAsOneCompactObjectInFieldOrder) {
  EXPECT_EQ(encodeEventLine(StatusEvent{"starting", std::nullopt}),
            R"({"event":"status","state":"starting"})");
  EXPECT_EQ(encodeEventLine(StatusEvent{"degraded", "CGEvent tap unavailable."}),
            R"({"event":"status","state":"degraded","message":"CGEvent tap unavailable."})");
  EXPECT_EQ(encodeEventLine(CapabilityEvent{"linux", false, true, false}),
            R"({"event":"capability","platform":"linux","supportsFn":false,)"
            R"("supportsModifierOnly":true,"requiresAccessibilityPermission":false})");
  EXPECT_EQ(
      encodeEventLine(ErrorEvent{"failed_to_create_event_tap", "Unable to create CGEvent tap."}),
      R"({"event":"error","code":"failed_to_create_event_tap",)"
      R"("message":"Unable to create CGEvent tap."})");
  EXPECT_EQ(encodeEventLine(HotkeyEvent{"left_shift", HotkeyState::down}),
            R"({"event":"modifier","key":"left_shift","state":"down"})");
  EXPECT_EQ(encodeEventLine(HotkeyEvent{"fn", HotkeyState::up}),
            R"({"event":"modifier","key":"fn","state":"up"})");
}

TEST(HotkeyEventsTest, EscapesStringsAndDropsARecordThatIsNotUtf8) {
  EXPECT_EQ(encodeEventLine(StatusEvent{"degraded", "a \"quoted\"\nline"}),
            R"({"event":"status","state":"degraded","message":"a \"quoted\"\nline"})");
  EXPECT_EQ(encodeEventLine(StatusEvent{"degraded", std::string("bad \xff byte")}), std::nullopt);
}

TEST(HotkeyEventsTest, RecordsReadBackFromTheirOwnLines) {
  const MonitorEvent records[] = {
      StatusEvent{"ready", std::nullopt},
      StatusEvent{"permission_required", "why"},
      CapabilityEvent{"macos", true, true, true},
      ErrorEvent{"failed_to_create_event_tap", "Unable to create CGEvent tap."},
      HotkeyEvent{"right_alt", HotkeyState::up},
  };
  for (const MonitorEvent& record : records) {
    auto line = encodeEventLine(record);
    ASSERT_TRUE(line);
    EXPECT_EQ(decodeEventLine(*line), record) << *line;
  }
}

TEST(HotkeyEventsTest, RejectsLinesThatAreNotARecord) {
  EXPECT_EQ(decodeEventLine(R"({"event":"modifier","key":"fn","state":"held"})"), std::nullopt);
  EXPECT_EQ(decodeEventLine(R"({"event":"modifier","key":"fn"})"), std::nullopt);
  EXPECT_EQ(
      decodeEventLine(R"({"event":"capability","platform":"linux","supportsFn":1,)"
                      R"("supportsModifierOnly":true,"requiresAccessibilityPermission":false})"),
      std::nullopt);
  EXPECT_EQ(decodeEventLine(R"({"event":"status","state":"ready","message":3})"), std::nullopt);
  EXPECT_EQ(decodeEventLine(R"({"event":"bogus"})"), std::nullopt);
  EXPECT_EQ(decodeEventLine("not json"), std::nullopt);
  EXPECT_EQ(decodeEventLine("[]"), std::nullopt);
}

}  // namespace
}  // namespace vigil
