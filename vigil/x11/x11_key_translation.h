// X key codes of the tracked keys. No X header: the table is tested on its own.
#pragma once

#include <optional>

#include "monitor_platform.h"

namespace vigil {

// The tracked key an X key code stands for; nothing for any other key (right Control included).
std::optional<ModifierKey> modifierKeyForXKeycode(unsigned xKeycode);

}  // namespace vigil
