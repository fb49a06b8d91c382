#pragma once

// What runs inside the crash reporter's signal handler: the handler itself,
// which walks a chain of callbacks (the latest registered first), and the
// forwarding entry that hands a signal to the action installed before ours.
// When no callback handles the signal, the handler re-raises it with the
// default action, so the process ends by that signal. The chain's lists are
// filled and changed by the registration (reporter_setup/signal_handler.h);
// this side only reads them.

#include <signal.h>

#include "crashcapture/capture/reporter/async_list.h"

namespace tlcrash {

// The rest of the callback chain, handed to each callback. Opaque.
struct TLCrashSignalHandlerCallback;

// A callback of the chain: answers whether it handled the signal. `next` is
// null for the last entry. Runs inside the signal handler.
using TLCrashSignalHandlerCallbackFunc = bool (*)(int signo, siginfo_t* info, ucontext_t* uap,
                                                  void* context,
                                                  TLCrashSignalHandlerCallback* next);

struct TLCrashSignalCallbackEntry {
  TLCrashSignalHandlerCallbackFunc callback;
  void* context;
};

// The action a signal had before ours was installed.
struct TLCrashSignalPreviousAction {
  int signo;
  struct sigaction action;
};

struct TLCrashSignalChain {
  async_list<TLCrashSignalCallbackEntry> callbacks;
  async_list<TLCrashSignalPreviousAction> previousActions;
};

// Points the handler at the chain it walks; the registration does this
// before it installs the handler for the first signal.
void tlcrash_signal_chain_use(TLCrashSignalChain* chain) noexcept;

// Calls the entry after `next` and answers what it answers; false when `next`
// is null. A callback calls this to pass the signal on.
// Signal path: async-signal-safe.
bool tlcrash_signal_handler_callback_next(TLCrashSignalHandlerCallback* next, int signo,
                                          siginfo_t* info, ucontext_t* uap) noexcept;

// The entry the registration appends for each signal: after the rest of the
// chain had its turn, hands the signal to the previous action of its signal.
// Signal path: async-signal-safe.
bool tlcrash_signal_forwarding_callback(int signo, siginfo_t* info, ucontext_t* uap, void* context,
                                        TLCrashSignalHandlerCallback* next) noexcept;

// The handler installed for every registered signal (SA_SIGINFO).
// Signal path: async-signal-safe.
void tlcrash_signal_handler_handle(int signo, siginfo_t* info, void* uap) noexcept;

}  // namespace tlcrash
