#include "x11_key_translation.h"

#include <array>

namespace vigil {
namespace {

// X key codes of a standard PC keyboard (evdev code + 8). A Super key plays the Command role.
struct XModifier {
  unsigned xKeycode;
  std::int64_t keyCode;
  std::uint64_t flag;
  std::uint64_t sideFlag;
};

constexpr std::array<XModifier, 8> kModifiers{{
    {133, 55, ModifierFlag::command, ModifierFlag::leftCommand},       // Super_L
    {134, 54, ModifierFlag::command, ModifierFlag::rightCommand},      // Super_R
    {64, 58, ModifierFlag::alternate, ModifierFlag::leftAlternate},    // Alt_L
    {108, 61, ModifierFlag::alternate, ModifierFlag::rightAlternate},  // Alt_R
    {37, 59, ModifierFlag::control, ModifierFlag::leftControl},        // Control_L
    {105, 62, ModifierFlag::control, ModifierFlag::rightControl},      // Control_R (not tracked)
    {50, 56, ModifierFlag::shift, ModifierFlag::leftShift},            // Shift_L
    {62, 60, ModifierFlag::shift, ModifierFlag::rightShift},           // Shift_R
}};

const XModifier* findModifier(unsigned xKeycode) {
  for (const XModifier& m : kModifiers) {
    if (m.xKeycode == xKeycode) return &m;
  }
  return nullptr;
}

}  // namespace

std::int64_t monitorKeyCodeForXKeycode(unsigned xKeycode) {
  const XModifier* m = findModifier(xKeycode);
  return m ? m->keyCode : -1;
}

TapNotification X11ModifierFlags::press(unsigned xKeycode) { return notify(xKeycode, true); }

TapNotification X11ModifierFlags::release(unsigned xKeycode) { return notify(xKeycode, false); }

std::uint64_t X11ModifierFlags::flags() const {
  std::uint64_t flags = 0;
  for (unsigned held : modifiersHeld_) {
    const XModifier* m = findModifier(held);
    flags |= m->flag | m->sideFlag;
  }
  return flags;
}

TapNotification X11ModifierFlags::notify(unsigned xKeycode, bool down) {
  const XModifier* m = findModifier(xKeycode);
  if (m == nullptr) {
    // Ordinary keys are not tracked: their code is withheld and only their kind passes.
    return {down ? EventType::keyDown : EventType::keyUp, KeyEvent{-1, flags()}};
  }
  if (down) {
    modifiersHeld_.insert(xKeycode);
  } else {
    modifiersHeld_.erase(xKeycode);
  }
  return {EventType::flagsChanged, KeyEvent{m->keyCode, flags()}};
}

}  // namespace vigil
