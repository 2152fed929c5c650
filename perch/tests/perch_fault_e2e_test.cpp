// The real perch binary under a private Xvfb, fed what no host should send: a gibibyte of random
// bytes on its standard input. It must neither crash nor grow, and must still carry out the next
// valid command.
//
// PERCH_NOISE_MIB sets the amount in MiB (default 1024); the sanitized run of scripts/test.sh
// uses 128 MiB, as perch under ASan reads about 15 times slower.
#include <gtest/gtest.h>
#include <csignal>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "child_process.h"
#include "process_stats.h"
#include "x_window_probe.h"
#include "xvfb_server.h"

namespace {

using e2e::ChildProcess;
using e2e::WindowGeometry;
using namespace std::chrono_literals;

constexpr std::size_t kMiB = 1 << 20;
constexpr long kPeakRssLimitKiB = 200 * 1024;

std::size_t noiseMiB() {
  const char* value = std::getenv("PERCH_NOISE_MIB");
  const long mib = value ? std::atol(value) : 0;
  return mib > 0 ? static_cast<std::size_t>(mib) : 1024;
}

// A seeded xorshift64: the same noise on every run, made far faster than perch reads it. The
// third quarter carries no line feed at all: one line of a quarter of the whole, far over perch's
// line cap, which a reader without the cap would hold in memory.
class Noise {
 public:
  explicit Noise(std::size_t totalMiB)
      : longLineFrom_(totalMiB / 2), longLineTo_(totalMiB * 3 / 4) {}

  const std::string& nextMiB() {
    chunk_.resize(kMiB);
    for (std::size_t i = 0; i < kMiB; i += 8) {
      state_ ^= state_ << 13;
      state_ ^= state_ >> 7;
      state_ ^= state_ << 17;
      for (std::size_t b = 0; b < 8; ++b) chunk_[i + b] = static_cast<char>(state_ >> (8 * b));
    }
    if (index_ >= longLineFrom_ && index_ < longLineTo_) {
      for (char& c : chunk_) {
        if (c == '\n') c = ' ';
      }
    }
    ++index_;
    return chunk_;
  }

 private:
  const std::size_t longLineFrom_, longLineTo_;
  std::uint64_t state_ = 0x9E3779B97F4A7C15ull;
  std::size_t index_ = 0;
  std::string chunk_;
};

// "5176 kB" as /proc prints it, in KiB; -1 when it cannot be read.
long kibibytes(const std::string& proc) {
  char* end = nullptr;
  const long value = std::strtol(proc.c_str(), &end, 10);
  return end != proc.c_str() && std::string(end) == " kB" ? value : -1;
}

TEST(PerchNoiseTest, AGibibyteOfRandomBytesLeavesMemoryBoundedAndTheNextShowWorks) {
  std::signal(SIGPIPE, SIG_IGN);  // a write to a perch that died fails instead
  e2e::XvfbServer server("1280x800x24");
  ASSERT_TRUE(server.running());
  // Under ASan, freed memory waits in a quarantine of 256 MB by default; a small one keeps the
  // figure about perch. Builds without ASan ignore the variable.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string asanOptions = std::string("ASAN_OPTIONS=") +
                                  (asan ? std::string(asan) + ":" : "") + "quarantine_size_mb=16";
  ChildProcess perch({PERCH_BINARY}, {"DISPLAY=" + server.display(), asanOptions});
  ASSERT_EQ(perch.readLine(), R"({"event":"status","message":"ready"})");

  const std::size_t mib = noiseMiB();
  auto writer = std::async(std::launch::async, [&] {
    Noise noise(mib);
    for (std::size_t i = 0; i < mib; ++i) {
      if (!perch.write(noise.nextMiB())) return false;
    }
    return perch.write("\n");  // ends whatever line the noise left open
  });
  const auto started = std::chrono::steady_clock::now();
  if (writer.wait_for(300s) != std::future_status::ready) {
    perch.kill(SIGKILL);  // unblocks the writer
    writer.wait();
    FAIL() << "perch read less than " << mib << " MiB in 300 s";
  }
  ASSERT_TRUE(writer.get()) << "perch stopped reading its input";
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf("perch read %zu MiB of noise in %.1f s\n", mib, seconds);
  ASSERT_FALSE(perch.waitExit(0ms)) << "perch ended during the noise";

  perch.write(R"({"command":"show","x":300,"y":300})"
              "\n");
  e2e::XWindowProbe probe(server.display());
  const auto shown = [](const WindowGeometry& g) {
    return g.viewable && g.x == 460 && g.y == 344 && g.width == 56 && g.height == 56;
  };
  const auto g = probe.waitFor("perch", shown);
  EXPECT_TRUE(g && shown(*g)) << "the show after the noise was not carried out";

  const std::string peak = e2e::peakRss(perch.pid());
  std::printf("perch peak RSS: %s\n", peak.c_str());
  const long peakKiB = kibibytes(peak);
  ASSERT_GT(peakKiB, 0) << "cannot read peak RSS: " << peak;
  EXPECT_LT(peakKiB, kPeakRssLimitKiB) << "perch grew with the noise";

  perch.closeStdin();
  std::string extra;
  EXPECT_TRUE(perch.readsEndOfOutput(10s, &extra)) << "noise produced output: " << extra;
  EXPECT_TRUE(e2e::exitedCleanly(perch.waitExit(10s)));
  EXPECT_EQ(perch.errorOutput(), "");
}

}  // namespace
