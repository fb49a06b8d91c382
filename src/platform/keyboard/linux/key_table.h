#pragma once

// Shortcuts are stored as macOS virtual key codes and CGEventFlags masks.
// This one table turns them into X keysyms and modifier masks and back, for
// posting keystrokes and for recording shortcuts alike.

#include <cstdint>
#include <optional>

namespace platform::keys {

// The X keysym of a macOS virtual key code (45 -> "n"); nothing for codes
// without an X counterpart here.
std::optional<unsigned long> keysymForKeyCode(std::uint16_t keyCode);
// The macOS virtual key code of an X keysym; letters in either case.
std::optional<std::uint16_t> keyCodeForKeysym(unsigned long keysym);

// CGEventFlags modifier bits.
inline constexpr std::uint64_t kShiftFlag = 0x20000;
inline constexpr std::uint64_t kControlFlag = 0x40000;
inline constexpr std::uint64_t kOptionFlag = 0x80000;
inline constexpr std::uint64_t kCommandFlag = 0x100000;

// The X modifier state for `flags`: Command and Control give Control, Option
// gives Alt (Mod1), Shift gives Shift; other bits are dropped.
unsigned modifierStateForFlags(std::uint64_t flags);
// The flags for an X modifier state, as a recorder stores them: Control is
// stored as Command (the Linux "New Window" Control+N is the macOS Command+N).
std::uint64_t flagsForModifierState(unsigned state);

}  // namespace platform::keys
