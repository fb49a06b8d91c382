#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace base {

// A failure as a value: the domain it comes from, a code within that domain,
// and a text for people. Errors cross module boundaries; exceptions never do.
struct Error {
  std::string domain;
  std::int64_t code = 0;
  std::string description;

  Error() = default;
  Error(std::string errorDomain, std::int64_t errorCode, std::string text)
      : domain(std::move(errorDomain)), code(errorCode), description(std::move(text)) {}

  bool is(std::string_view d, std::int64_t c) const { return domain == d && code == c; }
  friend bool operator==(const Error&, const Error&) = default;
};

// The one text for an error that has no message of its own; it names the
// error's domain and code, e.g. "The operation couldn’t be completed.
// (Wendrix.FailedToOpenApp error 1.)".
inline std::string defaultErrorDescription(std::string_view domain, std::int64_t code) {
  return "The operation couldn\u2019t be completed. (" + std::string(domain) + " error " +
         std::to_string(code) + ".)";
}

// An error with the default description.
inline Error makeDefaultError(std::string_view domain, std::int64_t code) {
  return Error(std::string(domain), code, defaultErrorDescription(domain, code));
}

inline std::ostream& operator<<(std::ostream& os, const Error& e) {
  return os << e.domain << "(" << e.code << "): " << e.description;
}

}  // namespace base
