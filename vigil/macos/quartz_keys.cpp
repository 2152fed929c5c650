#include "quartz_keys.h"

#include <array>

namespace vigil {
namespace {

using namespace QuartzFlag;

constexpr std::uint64_t kCommandSides = leftCommand | rightCommand;
constexpr std::uint64_t kAlternateSides = leftAlternate | rightAlternate;
constexpr std::uint64_t kControlSides = leftControl | rightControl;
constexpr std::uint64_t kShiftSides = leftShift | rightShift;

constexpr std::array<QuartzKey, kModifierKeyCount> kKeys{{
    {55, ModifierKey::leftCommand, command, leftCommand, kCommandSides},
    {54, ModifierKey::rightCommand, command, rightCommand, kCommandSides},
    {58, ModifierKey::leftAlt, alternate, leftAlternate, kAlternateSides},
    {61, ModifierKey::rightAlt, alternate, rightAlternate, kAlternateSides},
    {59, ModifierKey::leftControl, control, leftControl, kControlSides},
    {56, ModifierKey::leftShift, shift, leftShift, kShiftSides},
    {60, ModifierKey::rightShift, shift, rightShift, kShiftSides},
    {63, ModifierKey::fn, secondaryFn, 0, 0},
}};

}  // namespace

const QuartzKey* findQuartzKey(std::int64_t keyCode) {
  for (const QuartzKey& row : kKeys) {
    if (row.keyCode == keyCode) return &row;
  }
  return nullptr;
}

bool isQuartzKeyDown(const QuartzKey& key, std::uint64_t flags) {
  if (key.sideFlag != 0 && (flags & key.kindSides) != 0) return (flags & key.sideFlag) != 0;
  return (flags & key.flag) == key.flag;
}

void deliverQuartzEvent(HotkeyMonitor* monitor, std::uint32_t type, std::int64_t keyCode,
                        std::uint64_t flags) {
  if (monitor == nullptr) return;
  if (type == QuartzEventType::tapDisabledByTimeout ||
      type == QuartzEventType::tapDisabledByUserInput) {
    monitor->listeningInterrupted();
    return;
  }
  if (type != QuartzEventType::flagsChanged) return;
  const QuartzKey* row = findQuartzKey(keyCode);
  if (row == nullptr) return;
  if (isQuartzKeyDown(*row, flags)) {
    monitor->keyDown(row->key);
  } else {
    monitor->keyUp(row->key);
  }
}

}  // namespace vigil
