#include "line_outbox.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vigil {
namespace {

// Modifier lines are told by their exact shape, as encodeEventLine() writes them; anything else
// counts as another line and is kept.
constexpr std::string_view kModifierStart = R"({"event":"modifier","key":")";
constexpr std::string_view kDownEnd = R"(","state":"down"})"
                                      "\n";
constexpr std::string_view kUpEnd = R"(","state":"up"})"
                                    "\n";

bool readModifierLine(std::string_view line, std::string& key, bool& down) {
  if (!line.starts_with(kModifierStart)) return false;
  down = line.ends_with(kDownEnd);
  if (!down && !line.ends_with(kUpEnd)) return false;
  const std::size_t end = line.size() - (down ? kDownEnd : kUpEnd).size();
  if (end <= kModifierStart.size()) return false;
  key = std::string(line.substr(kModifierStart.size(), end - kModifierStart.size()));
  return key.find('"') == std::string::npos;
}

// The net change of one key over a stretch of modifier lines: the host, which has seen the state
// before the first, needs only the last, and only when it differs from the state before, that is,
// when it repeats the first (lines of one key alternate).
struct KeyChange {
  const std::string* key;
  bool firstDown;
  bool lastDown;
  std::size_t last;  // index of its last line
};

}  // namespace

void LineOutbox::push(std::string_view line) {
  Entry entry{std::string(line), {}, false};
  entry.line.push_back('\n');
  if (!readModifierLine(entry.line, entry.key, entry.down)) entry.key.clear();
  bytes_ += entry.line.size();
  lines_.push_back(std::move(entry));
  if (bytes_ <= boundBytes_) return;
  collapse(false);
  if (bytes_ > boundBytes_) collapse(true);
}

std::string_view LineOutbox::front() const {
  if (lines_.empty()) return {};
  return std::string_view(lines_.front().line).substr(frontWritten_);
}

void LineOutbox::consume(std::size_t count) {
  while (count > 0 && !lines_.empty()) {
    const std::size_t left = lines_.front().line.size() - frontWritten_;
    const std::size_t taken = count < left ? count : left;
    frontWritten_ += taken;
    bytes_ -= taken;
    count -= taken;
    if (frontWritten_ == lines_.front().line.size()) {
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
// partly written stays as it is. With `mergeRepeats`, another line that comes again later (a
// second "ready" after the source was interrupted once more) is kept only in its last place, and
// the key changes on both sides of the places it leaves are collapsed together: the host's view is
// still right at every line it gets, and the queue holds each distinct line at most once.
void LineOutbox::collapse(bool mergeRepeats) {
  std::deque<Entry> kept;
  std::size_t first = 0;
  if (frontWritten_ > 0) {
    kept.push_back(std::move(lines_.front()));
    first = 1;
  }
  std::vector<KeyChange> changes;  // at most one per tracked key: a short list
  std::vector<bool> comesAgain(lines_.size(), false);
  if (mergeRepeats) {
    std::unordered_map<std::string_view, std::size_t> lastPlace;
    for (std::size_t i = first; i < lines_.size(); ++i) {
      if (!lines_[i].key.empty()) continue;
      auto [place, fresh] = lastPlace.try_emplace(lines_[i].line, i);
      if (!fresh) comesAgain[std::exchange(place->second, i)] = true;
    }
  }
  auto endStretch = [&] {
    std::sort(changes.begin(), changes.end(),
              [](const KeyChange& a, const KeyChange& b) { return a.last < b.last; });
    for (const KeyChange& c : changes) {
      if (c.firstDown == c.lastDown) kept.push_back(std::move(lines_[c.last]));
    }
    changes.clear();
  };
  for (std::size_t i = first; i < lines_.size(); ++i) {
    Entry& entry = lines_[i];
    if (!entry.key.empty()) {
      auto it = std::find_if(changes.begin(), changes.end(),
                             [&](const KeyChange& c) { return *c.key == entry.key; });
      if (it == changes.end()) {
        changes.push_back({&entry.key, entry.down, entry.down, i});
      } else {
        it->lastDown = entry.down;
        it->last = i;
      }
      continue;
    }
    if (comesAgain[i]) continue;
    endStretch();
    kept.push_back(std::move(entry));
  }
  endStretch();
  lines_ = std::move(kept);
  bytes_ = 0;
  for (const Entry& entry : lines_) bytes_ += entry.line.size();
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
