// The hand-over of commands from perch's reader thread to the GLib main loop, on a real pipe: the
// one place where two of perch's threads meet. No display is needed. scripts/test.sh also builds
// and runs this test under ThreadSanitizer.
#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "command_hand_off.h"

namespace {

using perch::CommandHandOff;
using perch::MascotCommand;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Enough commands to fill the hand-off's queue several times over and to span many dispatches.
constexpr int kBurst = 5 * static_cast<int>(CommandHandOff::capacity);

std::string showLine(int i) {
  return R"({"command":"show","x":)" + std::to_string(i) + R"(,"y":0})";
}

// The host's side: a pipe whose read end is perch's standard input, written from a thread of its
// own in pieces cut at arbitrary points. The read end is never closed here: the hand-off's reader
// thread is detached and may still be reading it when a test ends.
class Host {
 public:
  Host() {
    std::signal(SIGPIPE, SIG_IGN);  // a write to a closed pipe fails instead
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_CLOEXEC), 0);
    readEnd = fds[0];
    writeEnd_ = fds[1];
  }
  ~Host() {
    // A writer still blocked means the test has failed; closing the read end lets it go.
    if (!finished) ::close(readEnd);
    if (writer_.joinable()) writer_.join();
    if (writeEnd_ >= 0) ::close(writeEnd_);
  }

  // Writes `bytes` in a burst from another thread, then closes the pipe.
  void writeInBurstThenClose(std::string bytes) {
    writer_ = std::thread([this, bytes = std::move(bytes)] {
      std::uint32_t state = 12345;
      std::size_t done = 0;
      while (done < bytes.size()) {
        state = state * 1103515245 + 12345;
        const std::size_t piece =
            std::min<std::size_t>(1 + (state >> 16) % 9000, bytes.size() - done);
        const ssize_t n = ::write(writeEnd_, bytes.data() + done, piece);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
      }
      ::close(writeEnd_);
      writeEnd_ = -1;
      finished = true;
    });
  }

  // Puts all of `bytes` in the pipe at once (it is grown to hold them), then closes it.
  bool writeAllNowThenClose(const std::string& bytes) {
    if (fcntl(writeEnd_, F_SETPIPE_SZ, 1 << 20) < static_cast<int>(bytes.size())) return false;
    if (::write(writeEnd_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      return false;
    }
    ::close(writeEnd_);
    writeEnd_ = -1;
    finished = true;
    return true;
  }

  // Bytes written and not yet read.
  int unread() const {
    int n = 0;
    return ioctl(readEnd, FIONREAD, &n) == 0 ? n : -1;
  }

  int readEnd = -1;
  std::atomic<bool> finished = false;

 private:
  int writeEnd_ = -1;
  std::thread writer_;
};

// Runs the default main context, as perch's main loop does, until `done` holds or the deadline.
bool runMainLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 30s) {
  // A short timeout keeps each iteration bounded, so the deadline is checked.
  const GSourceFunc keepGoing = [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; };
  const guint wake = g_timeout_add(20, keepGoing, nullptr);
  const auto deadline = Clock::now() + limit;
  while (!done() && Clock::now() < deadline) g_main_context_iteration(nullptr, TRUE);
  g_source_remove(wake);
  return done();
}

// What the main loop was handed.
struct Received {
  std::vector<double> xs;
  int ends = 0;
  std::size_t commandsBeforeEnd = 0;
  bool allOnMainThread = true;
  const std::thread::id mainThread = std::this_thread::get_id();

  CommandHandOff::Deliver deliver(std::function<void(const MascotCommand&)> also = {}) {
    return [this, also](const MascotCommand& command) {
      allOnMainThread = allOnMainThread && std::this_thread::get_id() == mainThread;
      xs.push_back(command.x.value_or(-1));
      if (also) also(command);
    };
  }
  CommandHandOff::End end() {
    return [this] {
      allOnMainThread = allOnMainThread && std::this_thread::get_id() == mainThread;
      ++ends;
      commandsBeforeEnd = xs.size();
    };
  }
  // Whether the xs are 0, 1, 2 … with none missing, doubled or out of place.
  bool inOrder() const {
    for (std::size_t i = 0; i < xs.size(); ++i) {
      if (xs[i] != static_cast<double>(i)) return false;
    }
    return true;
  }
};

TEST(CommandHandOffTest, ABurstArrivesWholeInOrderOnTheMainLoopThenTheEnd) {
  Host host;
  Received received;
  CommandHandOff handOff(host.readEnd, received.deliver(), received.end());
  std::string burst;
  for (int i = 0; i < kBurst; ++i) {
    if (i % 1000 == 0) burst += "not a command\n";  // dropped on the reader's side
    burst += showLine(i) + (i % 3 == 0 ? "\r\n" : "\n");
  }
  burst += showLine(kBurst);  // the last line has no line break
  host.writeInBurstThenClose(std::move(burst));

  ASSERT_TRUE(runMainLoopUntil([&] { return received.ends > 0; }))
      << received.xs.size() << " commands and no end";
  EXPECT_EQ(received.xs.size(), static_cast<std::size_t>(kBurst + 1));
  EXPECT_TRUE(received.inOrder());
  EXPECT_EQ(received.commandsBeforeEnd, static_cast<std::size_t>(kBurst + 1))
      << "the end comes after the last command";
  EXPECT_TRUE(received.allOnMainThread);
  // Nothing follows the end.
  for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(received.ends, 1);
  EXPECT_EQ(received.xs.size(), static_cast<std::size_t>(kBurst + 1));
}

TEST(CommandHandOffTest, ABusyMainLoopHoldsTheReaderBackAndLosesNothing) {
  Host host;
  std::string burst;
  for (int i = 0; i < kBurst; ++i) burst += showLine(i) + "\n";
  ASSERT_TRUE(host.writeAllNowThenClose(burst)) << "the pipe cannot hold the burst";
  Received received;
  int unreadAfterStall = -1;
  CommandHandOff handOff(host.readEnd, received.deliver([&](const MascotCommand& command) {
    if (command.x != 0) return;
    // The main loop is busy with its first command while the reader goes on. A bounded queue
    // stops the reader with most of the burst still in the pipe; an unbounded one, or one
    // that drops commands when full, reads it all.
    const auto until = Clock::now() + 500ms;
    while (host.unread() > 0 && Clock::now() < until) std::this_thread::sleep_for(5ms);
    unreadAfterStall = host.unread();
  }),
                         received.end());

  ASSERT_TRUE(runMainLoopUntil([&] { return received.ends > 0; }))
      << received.xs.size() << " commands and no end";
  EXPECT_GT(unreadAfterStall, 0) << "the reader read the whole input while the main loop was busy";
  EXPECT_EQ(received.xs.size(), static_cast<std::size_t>(kBurst));
  EXPECT_TRUE(received.inOrder());
  EXPECT_EQ(received.commandsBeforeEnd, static_cast<std::size_t>(kBurst))
      << "the end comes after the last command";
}

TEST(CommandHandOffTest, CloseStopsDeliveryAtOnceAndReleasesTheReader) {
  Host host;
  Received received;
  constexpr int kQuitAt = 100;
  std::unique_ptr<CommandHandOff> handOff;
  handOff = std::make_unique<CommandHandOff>(host.readEnd,
                                             received.deliver([&](const MascotCommand& command) {
                                               if (command.x == kQuitAt)
                                                 handOff->close();  // as "quit" does
                                             }),
                                             received.end());
  std::string burst;
  for (int i = 0; i < kBurst; ++i) burst += showLine(i) + "\n";
  host.writeInBurstThenClose(std::move(burst));

  // The writer can only finish if the reader, waiting for room in the queue, was let go and read
  // on to the end of input.
  EXPECT_TRUE(runMainLoopUntil([&] { return host.finished.load(); }))
      << "the host is still blocked writing";
  for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(received.xs.size(), static_cast<std::size_t>(kQuitAt + 1));
  EXPECT_TRUE(received.inOrder());
  EXPECT_EQ(received.ends, 0) << "no end of input is reported after close()";
}

TEST(CommandHandOffTest, TheReaderOutlivesTheHandOffSafely) {
  Host host;
  Received received;
  auto handOff = std::make_unique<CommandHandOff>(host.readEnd, received.deliver(), received.end());
  std::string burst;
  for (int i = 0; i < kBurst; ++i) burst += showLine(i) + "\n";
  host.writeInBurstThenClose(std::move(burst));

  // Take some of the burst, then drop the hand-off while its reader is mid-stream.
  ASSERT_TRUE(runMainLoopUntil([&] { return received.xs.size() >= 10; }));
  handOff.reset();
  EXPECT_TRUE(runMainLoopUntil([&] { return host.finished.load(); }))
      << "the host is still blocked writing";
  const std::size_t taken = received.xs.size();
  for (int i = 0; i < 20; ++i) g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(received.xs.size(), taken) << "nothing is delivered once the hand-off is gone";
  EXPECT_TRUE(received.inOrder());
  EXPECT_EQ(received.ends, 0);
}

}  // namespace
