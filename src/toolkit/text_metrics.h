#pragma once

#include <string>

#include "toolkit/geometry.h"

namespace toolkit {

struct Font {
  // The system font at the system size when zero.
  double pointSize = 0;
  bool bold = false;
  friend bool operator==(const Font&, const Font&) = default;
};

inline constexpr double kSystemFontSize = 13;

// Measures text as a backend draws it.
class TextMetrics {
 public:
  virtual ~TextMetrics() = default;
  // The size of `text` laid out in lines at most `width` wide (wrapped at
  // spaces where possible); a width of zero or less means one unwrapped line
  // per paragraph.
  virtual Size measure(const std::string& text, const Font& font, double width) const = 0;
};

// Fixed metrics for the headless model: every character is half the point
// size wide and every line 1.25 times the point size high, so tests can
// compute what they expect.
class FixedTextMetrics final : public TextMetrics {
 public:
  Size measure(const std::string& text, const Font& font, double width) const override;
};

}  // namespace toolkit
