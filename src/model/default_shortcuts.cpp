#include "model/default_shortcuts.h"

namespace wendrix {
namespace {

constexpr std::uint16_t kKeyT = 17;
constexpr std::uint16_t kKeyN = 45;
constexpr std::uint16_t kKeyM = 46;

}  // namespace

const DefaultShortcuts& defaultNewWindowShortcuts() {
  static const DefaultShortcuts table = {
      {"com.apple.Safari", IShortcut{kKeyN, kMaskCommand}},
      {"com.apple.dt.Xcode", IShortcut{kKeyT, kMaskCommand | kMaskShift}},
      {"com.apple.finder", IShortcut{kKeyN, kMaskCommand}},
      {"com.google.Chrome", IShortcut{kKeyN, kMaskCommand}},
      {"com.googlecode.iterm2", IShortcut{kKeyN, kMaskCommand}},
      {"com.zodoradud.Excel", std::nullopt},
      {"com.zodoradud.Outlook", std::nullopt},
      {"com.zodoradud.VSCode", IShortcut{kKeyN, kMaskCommand | kMaskShift}},
      {"com.zodoradud.edgemac", IShortcut{kKeyN, kMaskCommand}},
      {"com.zodoradud.onenote.mac", IShortcut{kKeyM, kMaskControl}},
      {"notion.id", IShortcut{kKeyN, kMaskCommand | kMaskShift}},
  };
  return table;
}

}  // namespace wendrix
