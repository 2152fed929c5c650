#include "x11_key_translation.h"

#include <utility>

namespace vigil {
namespace {

// X key codes of a standard PC keyboard (the kernel's code + 8). A Super key plays the Command
// role.
constexpr std::pair<unsigned, ModifierKey> kKeys[] = {
    {133, ModifierKey::leftCommand},   // Super_L
    {134, ModifierKey::rightCommand},  // Super_R
    {64, ModifierKey::leftAlt},       {108, ModifierKey::rightAlt},  {37, ModifierKey::leftControl},
    {50, ModifierKey::leftShift},     {62, ModifierKey::rightShift},
};

}  // namespace

std::optional<ModifierKey> modifierKeyForXKeycode(unsigned xKeycode) {
  for (const auto& [code, key] : kKeys) {
    if (code == xKeycode) return key;
  }
  return std::nullopt;
}

}  // namespace vigil
