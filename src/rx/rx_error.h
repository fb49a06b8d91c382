#pragma once

#include <cstdint>

#include "base/error.h"

namespace wendrix::rx {

using Error = base::Error;

// Failures raised by the stream layer itself.
enum class RxErrorCode : std::int64_t {
  // `asSingle()` / `single()` saw the source complete without an element.
  noElements = 1,
  // `asSingle()` / `single()` saw a second element.
  moreThanOneElement = 2,
  // `timeout` ran out before the source produced its result.
  timeout = 3,
};

struct RxError {
  static constexpr const char* kDomain = "Wendrix.RxError";

  static Error make(RxErrorCode code);
  static Error noElements() { return make(RxErrorCode::noElements); }
  static Error moreThanOneElement() { return make(RxErrorCode::moreThanOneElement); }
  static Error timeout() { return make(RxErrorCode::timeout); }

  static bool is(const Error& error, RxErrorCode code) {
    return error.is(kDomain, static_cast<std::int64_t>(code));
  }
  static bool isTimeout(const Error& error) { return is(error, RxErrorCode::timeout); }
};

}  // namespace wendrix::rx
