#include "toolkit/text_metrics.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace toolkit {
namespace {

// Counts code points, not bytes, so non-ASCII text measures like ASCII.
std::size_t codePoints(const std::string& text, std::size_t begin, std::size_t end) {
  std::size_t n = 0;
  for (std::size_t i = begin; i < end; ++i)
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

Size FixedTextMetrics::measure(const std::string& text, const Font& font, double width) const {
  const double size = font.pointSize > 0 ? font.pointSize : kSystemFontSize;
  const double charWidth = size / 2;
  const double lineHeight = size * 1.25;
  const std::size_t perLine =
      width > 0 ? std::max<std::size_t>(1, static_cast<std::size_t>(width / charWidth)) : 0;

  std::size_t lines = 0;
  std::size_t widest = 0;
  std::size_t start = 0;
  while (true) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    // Greedy word wrap of one paragraph.
    std::size_t lineLength = 0;
    std::size_t paragraphLines = 1;
    std::size_t pos = start;
    while (pos < end) {
      std::size_t wordEnd = text.find(' ', pos);
      if (wordEnd == std::string::npos || wordEnd > end) wordEnd = end;
      std::size_t word = codePoints(text, pos, wordEnd);
      std::size_t needed = lineLength == 0 ? word : lineLength + 1 + word;
      if (perLine > 0 && needed > perLine && lineLength > 0) {
        widest = std::max(widest, lineLength);
        ++paragraphLines;
        lineLength = 0;
        needed = word;
      }
      // A word longer than a line breaks inside the word.
      while (perLine > 0 && needed > perLine) {
        ++paragraphLines;
        widest = perLine;
        needed -= perLine;
      }
      lineLength = needed;
      pos = wordEnd < end ? wordEnd + 1 : end;
    }
    widest = std::max(widest, lineLength);
    lines += paragraphLines;
    if (end == text.size()) break;
    start = end + 1;
  }
  return {static_cast<double>(widest) * charWidth, static_cast<double>(lines) * lineHeight};
}

}  // namespace toolkit
