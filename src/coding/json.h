#pragma once

// JSON backend of the coding layer (over nlohmann ordered_json).
//
// Writing: dictionaries keep their key order; bytes become padded standard
// Base64 strings, URLs their absolute string, dates ISO-8601 strings with
// milliseconds. Text that is not valid UTF-8 is written with U+FFFD in place
// of the bad bytes; a NaN or infinite number fails (JSON cannot hold it).
// Reading gives only null, booleans, integers, doubles, strings, arrays and
// dictionaries; decode with Format::json so that Reader knows how bytes, URLs
// and dates are spelled. Neither direction throws.

#include <string>
#include <string_view>

#include "base/result.h"
#include "coding/codable.h"
#include "coding/value.h"

namespace coding {

enum class JsonStyle {
  compact,
  pretty,  // indented by two spaces, one member per line
};

base::Result<std::string> encodeJson(const Value& value, JsonStyle style = JsonStyle::compact);

// Fails for text that is not one complete JSON value, and for nesting deeper
// than kMaxDepth.
base::Result<Value> decodeJson(std::string_view text);

template <class T>
base::Result<std::string> toJson(const T& value, JsonStyle style = JsonStyle::compact) {
  return encodeJson(encode(value), style);
}

template <class T>
base::Result<T> fromJson(std::string_view text) {
  auto tree = decodeJson(text);
  if (!tree) return tree.error();
  return decode<T>(*tree, Format::json);
}

}  // namespace coding
