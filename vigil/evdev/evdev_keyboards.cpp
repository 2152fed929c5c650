#include "evdev_keyboards.h"

#include <linux/input-event-codes.h>

#include <array>
#include <cctype>

namespace vigil {
namespace {

// The kernel's codes of the tracked keys, in the order of ModifierKey. The Meta keys play the
// Command role.
constexpr std::array<unsigned, kModifierKeyCount> kCodes{
    KEY_LEFTMETA, KEY_RIGHTMETA, KEY_LEFTALT,    KEY_RIGHTALT,
    KEY_LEFTCTRL, KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_FN,
};

int indexOf(unsigned code) {
  for (std::size_t i = 0; i < kCodes.size(); ++i) {
    if (kCodes[i] == code) return static_cast<int>(i);
  }
  return -1;
}

ModifierKey keyAt(std::size_t index) { return static_cast<ModifierKey>(index); }

std::uint32_t bit(int index) { return std::uint32_t{1} << index; }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::optional<ModifierKey> modifierKeyForEvdevCode(unsigned code) {
  const int i = indexOf(code);
  if (i < 0) return std::nullopt;
  return keyAt(static_cast<std::size_t>(i));
}

const std::vector<unsigned>& trackedEvdevCodes() {
  static const std::vector<unsigned> codes(kCodes.begin(), kCodes.end());
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

std::optional<KeyChange> EvdevKeyboards::key(KeyboardId id, unsigned code, int value) {
  if (value != 0 && value != 1) return std::nullopt;
  const int i = indexOf(code);
  if (i < 0) return std::nullopt;
  auto found = keyboards_.find(id);
  if (found == keyboards_.end()) return std::nullopt;
  found->second.unseen &= ~bit(i);
  return value == 1 ? press(found->second, i) : release(found->second, i);
}

std::vector<KeyChange> EvdevKeyboards::resync(KeyboardId id, const std::set<unsigned>& heldNow) {
  std::vector<KeyChange> out;
  auto found = keyboards_.find(id);
  if (found == keyboards_.end()) return out;
  Keyboard& keyboard = found->second;
  // Releases first, then presses: the host never sees more keys down than were truly held.
  for (std::size_t n = 0; n < kCodes.size(); ++n) {
    if (heldNow.count(kCodes[n]) != 0) continue;
    keyboard.unseen &= ~bit(static_cast<int>(n));
    if (auto change = release(keyboard, static_cast<int>(n))) out.push_back(*change);
  }
  for (std::size_t n = 0; n < kCodes.size(); ++n) {
    const int i = static_cast<int>(n);
    if (heldNow.count(kCodes[n]) != 0 && (keyboard.unseen & bit(i)) == 0) {
      if (auto change = press(keyboard, i)) out.push_back(*change);
    }
  }
  return out;
}

std::vector<KeyChange> EvdevKeyboards::remove(KeyboardId id) {
  std::vector<KeyChange> out;
  auto found = keyboards_.find(id);
  if (found == keyboards_.end()) return out;
  for (std::size_t n = 0; n < kCodes.size(); ++n) {
    if (auto change = release(found->second, static_cast<int>(n))) out.push_back(*change);
  }
  keyboards_.erase(found);
  return out;
}

bool EvdevKeyboards::anyHeld() const {
  for (int holders : holders_) {
    if (holders > 0) return true;
  }
  return false;
}

std::optional<KeyChange> EvdevKeyboards::press(Keyboard& keyboard, int index) {
  if ((keyboard.reported & bit(index)) != 0) return std::nullopt;
  keyboard.reported |= bit(index);
  if (holders_[index]++ != 0) return std::nullopt;
  return KeyChange{keyAt(static_cast<std::size_t>(index)), true};
}

std::optional<KeyChange> EvdevKeyboards::release(Keyboard& keyboard, int index) {
  if ((keyboard.reported & bit(index)) == 0) return std::nullopt;
  keyboard.reported &= ~bit(index);
  if (--holders_[index] != 0) return std::nullopt;
  return KeyChange{keyAt(static_cast<std::size_t>(index)), false};
}

}  // namespace vigil
