#include "base/utf8.h"

#include <cstdint>

namespace base {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;

// Decodes the character at `text[i]` and advances `i` past it. An ill-formed
// sequence yields U+FFFD and advances past its maximal subpart only: the
// lead byte plus the continuation bytes that were still acceptable.
char32_t decodeOne(std::string_view text, std::size_t& i, bool& valid) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t lead = byte(i);
  valid = true;
  if (lead < 0x80) {
    ++i;
    return lead;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  // The range allowed for the second byte excludes overlong forms,
  // surrogates and values above U+10FFFF.
  std::uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    ++i;
    valid = false;
    return kReplacementCharacter;
  }
  std::size_t k = i + 1;
  for (std::size_t n = 1; n < length; ++n, ++k) {
    if (k >= text.size() || byte(k) < low || byte(k) > high) {
      i = k;
      valid = false;
      return kReplacementCharacter;
    }
    cp = (cp << 6) | (byte(k) & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  i = k;
  return cp;
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::size_t unitsOf(char32_t cp) {
  return cp >= 0x10000 ? 2 : 1;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  bool valid = true;
  for (std::size_t i = 0; i < text.size() && valid;)
    decodeOne(text, i, valid);
  return valid;
}

std::string repairUtf8(std::string_view text) {
  if (isValidUtf8(text)) return std::string(text);
  std::string out;
  out.reserve(text.size() + 8);
  bool valid = true;
  for (std::size_t i = 0; i < text.size();)
    appendUtf8(out, decodeOne(text, i, valid));
  return out;
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  bool valid = true;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = decodeOne(utf8, i, valid);
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      out += static_cast<char16_t>(0xD800 + (v >> 10));
      out += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::string fromUtf16(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const char16_t unit = utf16[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (utf16[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(out, kReplacementCharacter);
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  bool valid = true;
  for (std::size_t i = 0; i < utf8.size();)
    units += unitsOf(decodeOne(utf8, i, valid));
  return units;
}

std::string truncateUtf16(std::string_view utf8, std::size_t maxUnits) {
  std::string out;
  std::size_t units = 0;
  bool valid = true;
  for (std::size_t i = 0; i < utf8.size();) {
    const char32_t cp = decodeOne(utf8, i, valid);
    units += unitsOf(cp);
    if (units > maxUnits) break;
    appendUtf8(out, cp);
  }
  return out;
}

}  // namespace base
