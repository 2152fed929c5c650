// Program-wide values of the mascot, fixed at build time.
#pragma once

namespace perch {

inline constexpr double expandedWindowWidth = 220;  // points; default expanded layout
inline constexpr double expandedWindowHeight = 144;
inline constexpr double idleWindowSize = 56;  // side of the square idle panel
inline constexpr double buttonSize = 44;      // side of the square holding the round button
inline constexpr double buttonHitPadding = 6;
inline constexpr double expandedButtonRightInset = 10;
inline constexpr double expandedButtonBottomInset = 50;
inline constexpr double dragThreshold = 5;         // points of movement that make a drag
inline constexpr double startFeedbackSeconds = 3;  // one start-feedback period
inline constexpr double animationTickSeconds = 1.0 / 60;
inline constexpr const char* mascotVoiceCaptureDeepLink =
    "halcy://voice-capture/silent?source=mascot";

}  // namespace perch
