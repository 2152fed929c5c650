#include "line_outbox.h"

#include <algorithm>
#include <optional>
#include <variant>
#include <vector>

#include "hotkey_events.h"

namespace vigil {
namespace {

// The net change of one key over a stretch of modifier lines: the host, which has seen the state
// before the first, needs only the last, and only when it differs from the state before, that is,
// when it repeats the first (lines of one key alternate).
struct KeyChange {
  std::string key;
  HotkeyState first;
  HotkeyState last;
  std::string lastLine;
  std::size_t lastSeen;
};

std::optional<HotkeyEvent> modifierLine(const std::string& line) {
  auto event = decodeEventLine(std::string_view(line).substr(0, line.size() - 1));
  if (!event) return std::nullopt;
  if (auto* modifier = std::get_if<HotkeyEvent>(&*event)) return *modifier;
  return std::nullopt;
}

}  // namespace

void LineOutbox::push(std::string_view line) {
  std::string entry(line);
  entry.push_back('\n');
  bytes_ += entry.size();
  lines_.push_back(std::move(entry));
  if (bytes_ <= boundBytes_) return;
  collapse(false);
  if (bytes_ > boundBytes_) collapse(true);
}

std::string_view LineOutbox::front() const {
  if (lines_.empty()) return {};
  return std::string_view(lines_.front()).substr(frontWritten_);
}

void LineOutbox::consume(std::size_t count) {
  while (count > 0 && !lines_.empty()) {
    const std::size_t left = lines_.front().size() - frontWritten_;
    const std::size_t taken = count < left ? count : left;
    frontWritten_ += taken;
    bytes_ -= taken;
    count -= taken;
    if (frontWritten_ == lines_.front().size()) {
      lines_.pop_front();
      frontWritten_ = 0;
    }
  }
}

void LineOutbox::clear() {
  lines_.clear();
  frontWritten_ = 0;
  bytes_ = 0;
}

// Each stretch of modifier lines between two other lines becomes one line per key that changed,
// so the host's view of the keys is right at every other line and at the end. A line already
// partly written stays as it is. With `mergeRepeatedLines`, another line that repeats the one
// kept before it (a second "ready" with only key changes since) is folded into it, and the key
// changes on both sides of it are collapsed together.
void LineOutbox::collapse(bool mergeRepeatedLines) {
  std::deque<std::string> kept;
  if (frontWritten_ > 0) {
    kept.push_back(std::move(lines_.front()));
    lines_.pop_front();
  }
  std::vector<KeyChange> changes;
  std::size_t seen = 0;
  const std::string* lastOther = nullptr;
  auto endStretch = [&] {
    std::vector<const KeyChange*> order;
    for (const KeyChange& c : changes) {
      if (c.first == c.last) order.push_back(&c);
    }
    std::sort(order.begin(), order.end(),
              [](const KeyChange* a, const KeyChange* b) { return a->lastSeen < b->lastSeen; });
    for (const KeyChange* c : order) kept.push_back(c->lastLine);
    changes.clear();
  };
  for (std::string& line : lines_) {
    ++seen;
    if (auto modifier = modifierLine(line)) {
      auto it = std::find_if(changes.begin(), changes.end(),
                             [&](const KeyChange& c) { return c.key == modifier->key; });
      if (it == changes.end()) {
        changes.push_back({modifier->key, modifier->state, modifier->state, std::move(line), seen});
      } else {
        it->last = modifier->state;
        it->lastLine = std::move(line);
        it->lastSeen = seen;
      }
      continue;
    }
    if (mergeRepeatedLines && lastOther != nullptr && *lastOther == line) continue;
    endStretch();
    kept.push_back(std::move(line));
    lastOther = &kept.back();
  }
  endStretch();
  lines_ = std::move(kept);
  bytes_ = 0;
  for (const std::string& line : lines_) bytes_ += line.size();
  bytes_ -= frontWritten_;
}

FlushOutcome flushOutbox(LineOutbox& outbox, const OutputSink& sink) {
  while (!outbox.empty()) {
    const SinkWrite result = sink(outbox.front());
    if (result.closed) {
      outbox.clear();
      return FlushOutcome::closed;
    }
    if (result.taken == 0) return FlushOutcome::blocked;
    outbox.consume(result.taken);
  }
  return FlushOutcome::drained;
}

}  // namespace vigil
