#include "evdev_keyboards.h"

#include <linux/input-event-codes.h>

#include <array>
#include <cctype>

namespace vigil {
namespace {

// The Meta keys play the Command role. Right Control is left out: it is not tracked, so nothing
// of it is kept.
struct EvdevModifier {
  unsigned code;
  std::int64_t keyCode;
  std::uint64_t flag;
  std::uint64_t sideFlag;
};

constexpr std::array<EvdevModifier, 8> kModifiers{{
    {KEY_LEFTMETA, 55, ModifierFlag::command, ModifierFlag::leftCommand},
    {KEY_RIGHTMETA, 54, ModifierFlag::command, ModifierFlag::rightCommand},
    {KEY_LEFTALT, 58, ModifierFlag::alternate, ModifierFlag::leftAlternate},
    {KEY_RIGHTALT, 61, ModifierFlag::alternate, ModifierFlag::rightAlternate},
    {KEY_LEFTCTRL, 59, ModifierFlag::control, ModifierFlag::leftControl},
    {KEY_LEFTSHIFT, 56, ModifierFlag::shift, ModifierFlag::leftShift},
    {KEY_RIGHTSHIFT, 60, ModifierFlag::shift, ModifierFlag::rightShift},
    {KEY_FN, 63, ModifierFlag::secondaryFn, 0},
}};

int indexOf(unsigned code) {
  for (std::size_t i = 0; i < kModifiers.size(); ++i) {
    if (kModifiers[i].code == code) return static_cast<int>(i);
  }
  return -1;
}

std::uint32_t bit(int index) { return std::uint32_t{1} << index; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::int64_t monitorKeyCodeForEvdevCode(unsigned code) {
  int i = indexOf(code);
  return i < 0 ? -1 : kModifiers[static_cast<std::size_t>(i)].keyCode;
}

const std::vector<unsigned>& trackedEvdevCodes() {
  static const std::vector<unsigned> codes = [] {
    std::vector<unsigned> all;
    for (const EvdevModifier& m : kModifiers) all.push_back(m.code);
    return all;
  }();
  return codes;
}

bool keyBitsHoldTrackedCode(std::string_view bitmap, unsigned bitsPerWord) {
  // Unpadded hexadecimal words, the most significant first: read them, then count from the end.
  std::vector<std::uint64_t> words;
  std::size_t pos = 0;
  while (pos < bitmap.size()) {
    if (std::isspace(static_cast<unsigned char>(bitmap[pos]))) {
      ++pos;
      continue;
    }
    std::uint64_t word = 0;
    for (; pos < bitmap.size() && !std::isspace(static_cast<unsigned char>(bitmap[pos])); ++pos) {
      int digit = hexDigit(bitmap[pos]);
      if (digit < 0) return false;
      word = (word << 4) | static_cast<std::uint64_t>(digit);
    }
    words.push_back(word);
  }
  if (bitsPerWord != 32 && bitsPerWord != 64) return false;
  for (unsigned code : trackedEvdevCodes()) {
    const std::size_t fromEnd = code / bitsPerWord;
    if (fromEnd >= words.size()) continue;
    if ((words[words.size() - 1 - fromEnd] >> (code % bitsPerWord)) & 1) return true;
  }
  return false;
}

void EvdevKeyboards::add(KeyboardId id, const std::set<unsigned>& heldNow) {
  Keyboard& keyboard = keyboards_[id];
  for (unsigned code : heldNow) {
    int i = indexOf(code);
    if (i >= 0 && (keyboard.reported & bit(i)) == 0) keyboard.unseen |= bit(i);
  }
}

std::vector<KeyEvent> EvdevKeyboards::key(KeyboardId id, unsigned code, int value) {
  std::vector<KeyEvent> out;
  auto found = keyboards_.find(id);
  int i = indexOf(code);
  if (found == keyboards_.end() || i < 0) return out;
  if (value == 1) {
    found->second.unseen &= ~bit(i);
    press(found->second, i, out);
  } else if (value == 0) {
    found->second.unseen &= ~bit(i);
    release(found->second, i, out);
  }
  return out;
}

std::vector<KeyEvent> EvdevKeyboards::resync(KeyboardId id, const std::set<unsigned>& heldNow) {
  std::vector<KeyEvent> out;
  auto found = keyboards_.find(id);
  if (found == keyboards_.end()) return out;
  Keyboard& keyboard = found->second;
  // Releases first, then presses: the host never sees more keys down than were truly held.
  for (std::size_t n = 0; n < kModifiers.size(); ++n) {
    if (heldNow.count(kModifiers[n].code) != 0) continue;
    keyboard.unseen &= ~bit(static_cast<int>(n));
    release(keyboard, static_cast<int>(n), out);
  }
  for (std::size_t n = 0; n < kModifiers.size(); ++n) {
    const int i = static_cast<int>(n);
    if (heldNow.count(kModifiers[n].code) != 0 && (keyboard.unseen & bit(i)) == 0) {
      press(keyboard, i, out);
    }
  }
  return out;
}

std::vector<KeyEvent> EvdevKeyboards::remove(KeyboardId id) {
  std::vector<KeyEvent> out;
  auto found = keyboards_.find(id);
  if (found == keyboards_.end()) return out;
  for (std::size_t n = 0; n < kModifiers.size(); ++n) {
    release(found->second, static_cast<int>(n), out);
  }
  keyboards_.erase(found);
  return out;
}

std::uint64_t EvdevKeyboards::flags() const {
  std::uint64_t flags = 0;
  for (std::size_t n = 0; n < kModifiers.size(); ++n) {
    if (holders_[n] > 0) flags |= kModifiers[n].flag | kModifiers[n].sideFlag;
  }
  return flags;
}

void EvdevKeyboards::press(Keyboard& keyboard, int index, std::vector<KeyEvent>& out) {
  if ((keyboard.reported & bit(index)) != 0) return;
  keyboard.reported |= bit(index);
  const auto n = static_cast<std::size_t>(index);
  if (holders_[n]++ == 0) out.push_back(KeyEvent{kModifiers[n].keyCode, flags()});
}

void EvdevKeyboards::release(Keyboard& keyboard, int index, std::vector<KeyEvent>& out) {
  if ((keyboard.reported & bit(index)) == 0) return;
  keyboard.reported &= ~bit(index);
  const auto n = static_cast<std::size_t>(index);
  if (--holders_[n] == 0) out.push_back(KeyEvent{kModifiers[n].keyCode, flags()});
}

}  // namespace vigil
