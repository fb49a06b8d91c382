#pragma once

// The process's uncaught-exception handler: the one function that learns of
// an exception nothing else handled, just before the process ends. The crash
// reporter installs its own there; the crash service reads it back to hand
// it exceptions (an escaped C++ exception, one the application reported).

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// An exception as the handler sees it.
struct UncaughtException {
  // The exception's type, demangled ("std::runtime_error").
  std::string name;
  // Its message; empty when it has none.
  std::string reason;
  // The call stack where it was thrown, innermost first.
  std::vector<std::uint64_t> callStackReturnAddresses;
};

using UncaughtExceptionHandler = void (*)(const UncaughtException& exception);

// The installed handler; none at start. Thread-safe; compared by identity.
UncaughtExceptionHandler getUncaughtExceptionHandler();
// Installs `handler` (none: no handler).
void setUncaughtExceptionHandler(UncaughtExceptionHandler handler);

}  // namespace platform
