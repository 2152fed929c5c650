// Event lines on their way to a host that may stop reading. Nothing here ever waits: lines queue
// until the host's pipe takes them, and the queue never grows past its bound. When a line would
// take it over, the modifier lines still waiting are collapsed to the change each key made, so a
// host that reads again still arrives at every key's true state, with every "up" after a "down"
// of that key. Status, capability and error lines are kept.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace vigil {

class LineOutbox {
 public:
  // About 4,700 modifier lines, on top of what the host's pipe itself holds: a host that is only
  // slow for a moment still gets every line.
  static constexpr std::size_t defaultBoundBytes = 256 * 1024;

  explicit LineOutbox(std::size_t boundBytes = defaultBoundBytes) : boundBytes_(boundBytes) {}

  // Queues `line` and its line feed; collapses the queue when it passes the bound.
  void push(std::string_view line);
  bool empty() const { return lines_.empty(); }
  // The bytes to write next: what is left of the oldest line, line feed included.
  std::string_view front() const;
  // The first `count` bytes of front() reached the host.
  void consume(std::size_t count);
  // Everything queued is given up: the host is gone.
  void clear();

  std::size_t bytes() const { return bytes_; }
  std::size_t boundBytes() const { return boundBytes_; }

 private:
  // A queued line with its line feed; for a modifier line, its key and whether it says "down".
  struct Entry {
    std::string line;
    std::string key;  // empty for every other line
    bool down = false;
  };

  void collapse(bool mergeRepeats);

  std::size_t boundBytes_;
  std::deque<Entry> lines_;
  std::size_t frontWritten_ = 0;  // bytes of lines_.front() already written
  std::size_t bytes_ = 0;         // unwritten bytes held
};

// What one write to the host did: `taken` bytes went out; none and not `closed` means its pipe
// is full for now; `closed` means nobody will ever read again.
struct SinkWrite {
  std::size_t taken = 0;
  bool closed = false;
};
using OutputSink = std::function<SinkWrite(std::string_view bytes)>;

enum class FlushOutcome { drained, blocked, closed };

// Writes queued lines to `sink` until the outbox is empty, the sink would block, or it is closed.
FlushOutcome flushOutbox(LineOutbox& outbox, const OutputSink& sink);

}  // namespace vigil
