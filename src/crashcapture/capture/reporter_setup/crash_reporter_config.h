#pragma once

// The crash reporter's configuration: which signal handling to arm, which
// symbol sources the report writer may consult, and whether to install the
// uncaught-exception handler. Immutable.

namespace tlcrash {

// 0: signal handlers for the six fatal signals. 1: the Mach exception
// server type; its crash path arms the same six signal handlers as 0.
enum TLCrashReporterSignalHandlerType : unsigned {
  TLCrashReporterSignalHandlerTypeBSD = 0,
  TLCrashReporterSignalHandlerTypeMach = 1,
};

// Bits: 1 the symbol table, 2 the object runtime's class metadata.
enum TLCrashReporterSymbolicationStrategy : unsigned {
  TLCrashReporterSymbolicationStrategyNone = 0,
  TLCrashReporterSymbolicationStrategySymbolTable = 1,
  TLCrashReporterSymbolicationStrategyObjC = 2,
  TLCrashReporterSymbolicationStrategyAll = 3,
};

class TLCrashReporterConfig {
 public:
  // Signal handlers, no symbols, the uncaught-exception handler installed.
  static TLCrashReporterConfig defaultConfiguration() { return TLCrashReporterConfig(); }

  TLCrashReporterConfig() : TLCrashReporterConfig(TLCrashReporterSignalHandlerTypeBSD, 0) {}
  TLCrashReporterConfig(unsigned signalHandlerType, unsigned symbolicationStrategy,
                        bool shouldRegisterUncaughtExceptionHandler = true)
      : signalHandlerType_(signalHandlerType),
        symbolicationStrategy_(symbolicationStrategy),
        shouldRegisterUncaughtExceptionHandler_(shouldRegisterUncaughtExceptionHandler) {}

  unsigned signalHandlerType() const { return signalHandlerType_; }
  unsigned symbolicationStrategy() const { return symbolicationStrategy_; }
  bool shouldRegisterUncaughtExceptionHandler() const {
    return shouldRegisterUncaughtExceptionHandler_;
  }

 private:
  unsigned signalHandlerType_;
  unsigned symbolicationStrategy_;
  bool shouldRegisterUncaughtExceptionHandler_;
};

}  // namespace tlcrash
