#include "tick_schedule.h"

#include <gtest/gtest.h>

namespace perch {
namespace {

TEST(TickScheduleTest, TicksStayOnTheirGridAndSkipWhatWasMissed) {
  constexpr double sixtieth = 1.0 / 60;
  const struct {
    double due, now, next;
  } cases[] = {
      {10, 10, 10 + sixtieth},      // on time: one interval on, not 17 ms
      {10, 10.003, 10 + sixtieth},  // a little late: the next one is not pushed back
      {10, 10 + 1.5 * sixtieth, 10 + 2 * sixtieth},  // one missed: the one after
      {10, 10 + 3.2 * sixtieth, 10 + 4 * sixtieth},  // several missed: skipped, no burst
      {12, 10, 12},                                  // not due yet
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(nextTickDue(c.due, c.now, sixtieth), c.next, 1e-9) << c.due << " " << c.now;
  }
  // Sixty ticks, each handled on time, span one second: the cadence is 60 a second.
  double due = 0;
  for (int i = 0; i < 60; ++i) due = nextTickDue(due, due, sixtieth);
  EXPECT_NEAR(due, 1.0, 1e-9);
}

}  // namespace
}  // namespace perch
