#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/error.h"

namespace wendrix::winsys {

using base::defaultErrorDescription;
using base::makeDefaultError;

// Failures of window-system calls.
enum class WindowSystemErrorCode : std::int64_t {
  // The window or application no longer exists.
  invalidObject = 1,
  // The window cannot be closed (it has no close button).
  cannotClose = 2,
  // The system refused or failed the change.
  failed = 3,
  // Accessibility access is not granted.
  notTrusted = 4,
};

struct WindowSystemError {
  static constexpr std::string_view kDomain = "Wendrix.WindowSystemError";
  static base::Error make(WindowSystemErrorCode code) {
    return makeDefaultError(kDomain, static_cast<std::int64_t>(code));
  }
  static bool is(const base::Error& error, WindowSystemErrorCode code) {
    return error.is(kDomain, static_cast<std::int64_t>(code));
  }
};

// A promise chain that was cancelled. Recovery handlers let it through.
struct PromiseCancelled {
  static constexpr std::string_view kDomain = "Wendrix.PromiseCancelled";
  static base::Error make() { return makeDefaultError(kDomain, 1); }
  static bool is(const base::Error& error) { return error.domain == kDomain; }
};

}  // namespace wendrix::winsys
