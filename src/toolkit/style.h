#pragma once

namespace toolkit {

// Colours by meaning; each backend picks the shade that fits its appearance.
enum class Color {
  clear,
  label,
  secondaryLabel,
  tertiaryLabel,
  separator,
  disabledControlText,
  windowBackground,
};

// Light or dark.
enum class Appearance { light, dark };

// The state of a check box, toggle or menu item.
enum class ControlState { off = 0, on = 1, mixed = -1 };

}  // namespace toolkit
