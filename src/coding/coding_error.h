#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/error.h"

namespace coding {

// Errors of the coding layer all have this domain; the description starts
// with the coding path of the offending value ("apps[2].windows[0].rect: ...").
inline constexpr const char* kErrorDomain = "coding";

enum class ErrorCode {
  typeMismatch = 1,   // a value of another type than the record needs
  keyNotFound = 2,    // a required key is absent
  valueNotFound = 3,  // a required value is null
  outOfRange = 4,     // a number that does not fit the record's type
  dataCorrupted = 5,  // well-typed but invalid (a bad URL, bad Base64, an unknown case)
  invalidInput = 6,   // text or bytes that are not JSON / a property list at all
  invalidValue = 7,   // a value the target format cannot hold (NaN in JSON, null in a plist)
};

inline base::Error makeError(ErrorCode code, std::string description) {
  return base::Error(kErrorDomain, static_cast<std::int64_t>(code), std::move(description));
}

// Coding paths of an array element and a dictionary member of `path`, and an
// error that starts with `path` ("<root>" for the top value).
inline std::string indexPath(const std::string& path, std::size_t i) {
  return path + "[" + std::to_string(i) + "]";
}

inline std::string keyPath(const std::string& path, std::string_view key) {
  return path.empty() ? std::string(key) : path + "." + std::string(key);
}

inline base::Error failAt(const std::string& path, ErrorCode code, std::string_view what) {
  return makeError(code, (path.empty() ? std::string("<root>") : path) + ": " + std::string(what));
}

inline bool isError(const base::Error& error, ErrorCode code) {
  return error.is(kErrorDomain, static_cast<std::int64_t>(code));
}

}  // namespace coding
