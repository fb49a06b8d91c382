#pragma once

// Capture of uncaught C++ exceptions: the program's own terminate handler
// hands each escaping exception, with the stack where it was thrown, to a
// list of handlers; the crash service's handler turns it into an uncaught
// exception for the crash reporter. The stack comes from the throw hook
// (throw_hook.cpp, linked into the executable), which records a backtrace at
// every throw while the terminate handler is installed.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/exceptions/uncaught_exception.h"

namespace tlm {

// What a handler learns of an escaping exception. Valid only during the call.
struct TLMCXXExceptionInfoRecord {
  // The terminate handler's std::exception_ptr.
  const void* exceptionHolder;
  // The thrown type's name as the runtime gives it (mangled).
  const char* typeName;
  // The message of a std::exception, std::string or C string; null otherwise.
  const char* message;
  std::uint32_t frameCount;
  // The call stack at the throw (or at terminate), innermost first.
  const std::uint64_t* frames;
};

using TLMCXXExceptionHandler = void (*)(const TLMCXXExceptionInfoRecord* info);

// The thread's last recorded throw.
struct TLMCXXThrowRecord {
  static constexpr std::size_t kMaxFrames = 128;
  void* exception;
  std::uint64_t frames[kMaxFrames];
  std::int32_t frameCount;
};

// The list of handlers and the terminate handler that serves them. Thread-safe.
class TLMCrashesUncaughtCXXExceptionHandlerManager {
 public:
  // Installs the terminate handler with the first handler, keeping the one it
  // replaces. Duplicates are kept.
  static void addCXXExceptionHandler(TLMCXXExceptionHandler handler);
  // Removes the first entry of `handler`. With the last one gone, the kept
  // terminate handler comes back, unless another was installed over ours.
  static void removeCXXExceptionHandler(TLMCXXExceptionHandler handler);
  static std::size_t countCXXExceptionHandler();

  // Whether throws are being recorded (our terminate handler is installed).
  static bool isRecordingThrows();
  // Records the current stack for the thrown object on the calling thread;
  // called by the throw hook.
  static void recordThrow(void* thrownException);
  // The calling thread's record; none before its first recorded throw.
  static const TLMCXXThrowRecord* currentThrowRecord();
};

// An escaped C++ exception as an uncaught exception of the platform.
class TLMCrashesCXXExceptionWrapperException {
 public:
  explicit TLMCrashesCXXExceptionWrapperException(const TLMCXXExceptionInfoRecord* info);

  // The demangled type name; the raw name when it does not demangle; empty
  // without one.
  const std::string& name() const { return name_; }
  // The message, or empty.
  const std::string& reason() const { return reason_; }
  std::vector<std::uint64_t> callStackReturnAddresses() const;
  const TLMCXXExceptionInfoRecord* info() const { return info_; }
  platform::UncaughtException toUncaughtException() const;

 private:
  const TLMCXXExceptionInfoRecord* info_;
  std::string name_;
  std::string reason_;
};

// The demangled form of a mangled type name; the name itself when it does
// not demangle.
std::string demangledTypeName(const char* mangled);

}  // namespace tlm
