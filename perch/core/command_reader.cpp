#include "command_reader.h"

#include <unistd.h>

#include <cerrno>

namespace perch {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 when it is ill-formed; then
// `invalid` is the length of its maximal subpart (at least 1) to replace.
std::size_t wellFormedLength(std::string_view s, std::size_t& invalid) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char lead = byte(0);
  invalid = 1;
  if (lead < 0x80) return 1;
  std::size_t length;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= s.size()) return 0;
    const unsigned char b = byte(i);
    const bool inRange = i == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
    if (!inRange) return 0;
    invalid = i + 1;
  }
  return length;
}

}  // namespace

std::string replaceInvalidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t invalid = 0;
    std::size_t length = wellFormedLength(text.substr(i), invalid);
    if (length > 0) {
      out.append(text.substr(i, length));
      i += length;
    } else {
      out.append(kReplacement);
      i += invalid;
    }
  }
  return out;
}

void CommandLineSplitter::feed(std::string_view bytes, const LineHandler& onLine) {
  while (!bytes.empty()) {
    const std::size_t newline = bytes.find('\n');
    const std::string_view part = bytes.substr(0, newline);
    if (!discarding_) {
      if (pending_.size() + part.size() > maxLineBytes_ + 1) {
        // Over the cap (one byte of slack for a CR before the LF): drop what is held.
        pending_.clear();
        pending_.shrink_to_fit();
        discarding_ = true;
      } else {
        pending_.append(part);
      }
    }
    if (newline == std::string_view::npos) return;
    if (discarding_) {
      discarding_ = false;
    } else {
      emit(onLine);
    }
    bytes.remove_prefix(newline + 1);
  }
}

void CommandLineSplitter::finish(const LineHandler& onLine) {
  if (!discarding_ && !pending_.empty()) emit(onLine);
  pending_.clear();
  discarding_ = false;
}

void CommandLineSplitter::emit(const LineHandler& onLine) {
  if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
  if (pending_.size() <= maxLineBytes_) onLine(replaceInvalidUtf8(pending_));
  pending_.clear();
}

void readCommands(int fd, const std::function<void(MascotCommand)>& onCommand,
                  const std::function<void()>& onEnd) {
  CommandLineSplitter splitter;
  const auto onLine = [&](std::string_view line) {
    if (auto command = decodeMascotCommand(line)) onCommand(std::move(*command));
  };
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    splitter.feed(std::string_view(buffer, static_cast<std::size_t>(n)), onLine);
  }
  splitter.finish(onLine);
  onEnd();
}

}  // namespace perch
