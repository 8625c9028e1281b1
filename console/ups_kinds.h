// The UPS kinds the identification answer names, as the menus and screens group them.
#pragma once

namespace keep::console {

// Kinds 3-6 are the modular UPS units, 1-2 the standard ones; 0 (and any kind the server does not
// send) is served as the basic one.
inline bool IsModularKind(int kind) { return kind >= 3 && kind <= 6; }
inline bool IsStandardKind(int kind) { return kind == 1 || kind == 2; }

}  // namespace keep::console
