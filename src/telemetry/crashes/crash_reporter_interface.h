#pragma once

// What the crash service asks of the in-process crash reporter: arm it once
// with a callback for the moment after a report was written, and at the next
// start find, load and purge the report the previous run left behind. The
// crash capture library provides the real one; tests use a fake.

#include <signal.h>
#include <ucontext.h>

#include <cstdint>
#include <functional>
#include <memory>

#include "base/bytes.h"
#include "base/result.h"

namespace tlm {

// How the reporter catches a crash. Immutable once made.
struct TLMCrashReporterConfig {
  // 0: signal handlers for the six fatal signals; 1: the "Mach exception
  // server" type, whose crash path arms the same six signals.
  std::uint32_t signalHandlerType = 0;
  // Symbol sources the report writer consults (bit 1 the symbol table, bit 2
  // the object-runtime metadata); 0 none.
  std::uint32_t symbolicationStrategy = 0;
  // Whether enabling installs the reporter's uncaught-exception handler
  // (platform::setUncaughtExceptionHandler).
  bool shouldRegisterUncaughtExceptionHandler = true;
};

// Runs on the crash path once the report is written, and only then: it may
// only make async-signal-safe calls.
using TLMCrashSignalCallback = void (*)(siginfo_t* info, ucontext_t* userContext, void* context);

struct TLMCrashCallbacks {
  // Must be 0.
  std::uint16_t version = 0;
  void* context = nullptr;
  TLMCrashSignalCallback handleSignal = nullptr;
};

// The in-process crash reporter as the crash service uses it. One is made per
// process and enabled at most once; an enabled reporter stays armed.
class ICrashReporter {
 public:
  virtual ~ICrashReporter() = default;

  // Before enabling.
  virtual void setCrashCallbacks(const TLMCrashCallbacks& callbacks) = 0;
  // Arms the handlers the configuration names and, when it asks, installs
  // the reporter's uncaught-exception handler, which records the exception
  // in the report and aborts. The error's description is shown to people.
  virtual base::Status enableCrashReporter() = 0;

  // Whether the previous run left a report.
  virtual bool hasPendingCrashReport() const = 0;
  // The whole report file.
  virtual base::Result<base::Bytes> loadPendingCrashReportData() const = 0;
  // Deletes the report, so the reporter is free for the next crash.
  virtual base::Status purgePendingCrashReport() = 0;
};

// Makes the process's reporter from a configuration.
using TLMCrashReporterFactory =
    std::function<std::shared_ptr<ICrashReporter>(const TLMCrashReporterConfig& config)>;

}  // namespace tlm
