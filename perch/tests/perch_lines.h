// The lines perch writes that the tests wait for, and the link a click opens, as the host sees
// them.
#pragma once

#include <string>

inline const std::string kReady = R"({"event":"status","message":"ready"})";
inline const std::string kComplete = R"({"event":"startFeedbackComplete"})";
inline const std::string kDeepLink = "halcy://voice-capture/silent?source=mascot";
