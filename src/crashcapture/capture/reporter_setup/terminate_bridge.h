#pragma once

// The process's uncaught-exception handler: one slot that the crash reporter
// fills, and the bridge that hands an uncaught C++ exception to it from the
// C++ runtime's terminate handler.

#include <cstdint>
#include <string>
#include <vector>

namespace tlcrash {

struct TLCrashUncaughtException {
  std::string name;    // the thrown type, demangled
  std::string reason;  // what() of a std::exception; empty otherwise
  // The call stack where the exception ended the program, innermost first.
  std::vector<std::uint64_t> callStackReturnAddresses;
};

using TLCrashUncaughtExceptionHandler = void (*)(const TLCrashUncaughtException& exception);

// Sets the handler (null: none) and answers the one it replaces.
TLCrashUncaughtExceptionHandler tlcrash_set_uncaught_exception_handler(
    TLCrashUncaughtExceptionHandler handler);
TLCrashUncaughtExceptionHandler tlcrash_uncaught_exception_handler();

// Installs, once per process, a terminate handler that describes the current
// exception, if any, to the uncaught-exception handler when one is set, and
// then calls the terminate handler it replaced.
void tlcrash_install_terminate_bridge();

}  // namespace tlcrash
