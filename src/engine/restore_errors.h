#pragma once

#include <string_view>

#include "base/error.h"
#include "model/app.h"

namespace wendrix {

// Errors of the launch, open and restore roads. They have no message of their
// own: as an error value each takes its module-qualified type name as domain,
// code 1, and the program's default description naming the two.

// A saved application without a usable bundle identifier or bundle URL.
struct InvalidAppError {
  static constexpr std::string_view kDomain = "Wendrix.InvalidAppError";
  IApp app;

  base::Error asError() const;
  static bool is(const base::Error& error) { return error.is(kDomain, 1); }
};

// An open or launch request that ended with neither an application nor an
// error.
struct FailedToOpenApp {
  static constexpr std::string_view kDomain = "Wendrix.FailedToOpenApp";

  base::Error asError() const;
  static bool is(const base::Error& error) { return error.is(kDomain, 1); }
};

// A step needed an owner that no longer exists.
struct NilWeakSelfError {
  static constexpr std::string_view kDomain = "Wendrix.NilWeakSelfError";

  base::Error asError() const;
  static bool is(const base::Error& error) { return error.is(kDomain, 1); }
};

}  // namespace wendrix
