#include "process_stats.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace e2e {

long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(stat)), {});
  const auto end = all.rfind(')');
  if (end == std::string::npos) return -1;
  // After the command name: state is field 3, utime field 14, stime field 15.
  std::istringstream fields(all.substr(end + 2));
  std::string field;
  long utime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) return utime + std::stol(field);
  }
  return -1;
}

long long cpuNanoseconds(pid_t pid) {
  std::error_code error;
  long long total = 0;
  bool any = false;
  for (const auto& task :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    std::ifstream schedstat(task.path() / "schedstat");
    long long onCpu = 0;
    if (schedstat >> onCpu) total += onCpu, any = true;
  }
  return any ? total : -1;
}

std::string peakRss(pid_t pid) { return statusField(pid, "VmHWM"); }

std::string statusField(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  const std::string prefix = name + ":";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(prefix, 0) == 0) {
      auto value = line.substr(prefix.size());
      return value.substr(value.find_first_not_of(" \t"));
    }
  }
  return "?";
}

Percentiles percentiles(std::vector<double> values) {
  Percentiles p;
  p.samples = values.size();
  if (values.empty()) return p;
  std::sort(values.begin(), values.end());
  p.p50 = values[values.size() / 2];
  p.p99 = values[std::min(values.size() - 1, values.size() * 99 / 100)];
  return p;
}

}  // namespace e2e
