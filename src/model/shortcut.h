#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "base/result.h"
#include "coding/reader.h"
#include "coding/value.h"

namespace wendrix {

// Modifier bits of IShortcut::flagsValue (the stored form on every platform).
inline constexpr std::uint64_t kMaskShift = 0x20000;
inline constexpr std::uint64_t kMaskControl = 0x40000;
inline constexpr std::uint64_t kMaskAlternate = 0x80000;
inline constexpr std::uint64_t kMaskCommand = 0x100000;

// One keystroke: a virtual key code in the stored numbering (17 T, 45 N,
// 46 M) and a modifier mask.
struct IShortcut {
  std::uint16_t key = 0;
  std::uint64_t flagsValue = 0;

  friend bool operator==(const IShortcut&, const IShortcut&) = default;

  coding::Value encode() const;
  static base::Result<IShortcut> decode(const coding::Reader& reader);
};

// The settings of one application.
struct IAppSettings {
  // The keystroke that opens a new window in the application.
  std::optional<IShortcut> newWindowShortcut;

  friend bool operator==(const IAppSettings&, const IAppSettings&) = default;

  coding::Value encode() const;
  static base::Result<IAppSettings> decode(const coding::Reader& reader);
};

// Per-application settings by bundle id; codes as one dictionary whose member
// names are the bundle ids.
using AppSettingsMap = std::map<std::string, IAppSettings>;

}  // namespace wendrix
