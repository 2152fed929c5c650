// What a running process has used so far, read from /proc: for benchmarks.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace e2e {

// User plus system CPU time in clock ticks.
long cpuTicks(pid_t pid);
// CPU time of all the process's threads in nanoseconds, from the scheduler's own accounting
// (finer than clock ticks); -1 when it cannot be read.
long long cpuNanoseconds(pid_t pid);
// Peak resident set size ("VmHWM"), as /proc prints it, e.g. "5176 kB".
std::string peakRss(pid_t pid);
// A field of /proc/PID/status as it prints it ("RssAnon" gives e.g. "884 kB"); "?" if none.
std::string statusField(pid_t pid, const std::string& name);

struct Percentiles {
  double p50 = 0, p99 = 0;
  size_t samples = 0;
};
Percentiles percentiles(std::vector<double> values);

}  // namespace e2e
