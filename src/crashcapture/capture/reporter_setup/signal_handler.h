#pragma once

// The process-wide registry of the crash reporter's POSIX signal handling.
// One handler per registered signal (reporter/signal_chain.h) runs on an
// alternate signal stack and walks a chain of callbacks, the latest
// registered first. The chain ends in a forwarding callback that hands the
// signal to the action installed before ours. When no callback handles the
// signal, the handler re-raises it with the default action, so the process
// ends by that signal.
//
// Every thread the program starts with pthread_create (its own and its
// libraries') gets an alternate stack of its own for its lifetime: this
// library defines pthread_create for the program and exports it. The thread
// that registers a handler uses the shared one.

#include <signal.h>

#include <cstddef>

#include "crashcapture/capture/reporter/signal_chain.h"
#include "crashcapture/platform/reporter_error.h"

namespace tlcrash {

class TLCrashSignalHandler {
 public:
  // The alternate stack's size.
  static constexpr std::size_t kAlternateStackSize = 0x10000;

  // The process-wide handler, made on first use; null when its alternate
  // stack could not be allocated.
  static TLCrashSignalHandler* sharedHandler();

  // Installs the handler for `signo` (once per signal) and puts {callback,
  // context} at the front of the chain. False with the error otherwise.
  bool registerHandlerForSignal(int signo, TLCrashSignalHandlerCallbackFunc callback, void* context,
                                ReporterError* error);

  // Empties the chain and the list of previous actions. The installed
  // handlers stay: a signal then finds no callback and is re-raised.
  static void resetHandlers();

  TLCrashSignalHandler(const TLCrashSignalHandler&) = delete;
  TLCrashSignalHandler& operator=(const TLCrashSignalHandler&) = delete;

 private:
  explicit TLCrashSignalHandler(stack_t stack) : sigstk_(stack) {}
  ~TLCrashSignalHandler() = default;

  // Sets the alternate stack on the calling thread, adds a forwarding entry
  // to the chain and installs the handler unless it is installed already.
  bool registerHandlerWithSignal(int signo, ReporterError* error);

  stack_t sigstk_;
};

}  // namespace tlcrash
