#pragma once

#include <cstdint>

namespace wendrix {

// The modifier bits of a keyboard event's flags that a shortcut keeps: caps
// lock 0x10000, shift 0x20000, control 0x40000, option 0x80000, command
// 0x100000, numeric pad 0x200000, help 0x400000, function 0x800000.
inline constexpr std::uint64_t kDeviceIndependentModifierFlagsMask = 0xFF0000;

// `flags` with every bit but the eight modifier bits cleared (device-specific
// bits such as which of the two shift keys was pressed go).
constexpr std::uint64_t deviceIndependentModifierFlags(std::uint64_t flags) {
  return flags & kDeviceIndependentModifierFlagsMask;
}

}  // namespace wendrix
