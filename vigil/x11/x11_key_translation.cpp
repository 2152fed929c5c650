#include "x11_key_translation.h"

namespace vigil {

// X key codes of a standard PC keyboard (the kernel's code + 8). A Super key plays the Command
// role.
std::optional<ModifierKey> modifierKeyForXKeycode(unsigned xKeycode) {
  switch (xKeycode) {
    case 133:
      return ModifierKey::leftCommand;  // Super_L
    case 134:
      return ModifierKey::rightCommand;  // Super_R
    case 64:
      return ModifierKey::leftAlt;  // Alt_L
    case 108:
      return ModifierKey::rightAlt;  // Alt_R
    case 37:
      return ModifierKey::leftControl;  // Control_L
    case 50:
      return ModifierKey::leftShift;  // Shift_L
    case 62:
      return ModifierKey::rightShift;  // Shift_R
    default:
      return std::nullopt;
  }
}

}  // namespace vigil
