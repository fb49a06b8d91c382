#pragma once

#include "toolkit/text_metrics.h"

namespace toolkit::qt {

// Text measured as Qt lays it out (QTextDocument with the application font).
class QtTextMetrics final : public TextMetrics {
 public:
  Size measure(const std::string& text, const Font& font, double width) const override;
};

}  // namespace toolkit::qt
