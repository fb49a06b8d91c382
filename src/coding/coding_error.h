#pragma once

#include <string>

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

inline bool isError(const base::Error& error, ErrorCode code) {
  return error.is(kErrorDomain, static_cast<std::int64_t>(code));
}

}  // namespace coding
