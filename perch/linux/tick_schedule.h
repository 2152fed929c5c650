// When a repeating timer fires next: on a fixed grid from its first due time, so that ticks keep
// their cadence (60 a second stays 60, not the 58.8 of whole 17 ms waits) and a late tick does not
// push every later one back. No X header.
#pragma once

#include <cmath>

namespace perch {

// The first point of the grid `due`, `due` + `interval`, ... that lies after `now` (seconds on one
// monotonic clock). Ticks missed while the loop was busy are skipped, not made up in a burst.
inline double nextTickDue(double due, double now, double interval) {
  if (!(interval > 0)) return now;
  if (due > now) return due;
  return due + (std::floor((now - due) / interval) + 1) * interval;
}

}  // namespace perch
