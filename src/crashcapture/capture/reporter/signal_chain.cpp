#include "crashcapture/capture/reporter/signal_chain.h"

namespace tlcrash {
namespace {

// Set before any handler is installed; null only while none is.
TLCrashSignalChain* gChain = nullptr;

using CallbackNode = async_list<TLCrashSignalCallbackEntry>::node;

// Calls the entry after `previous` (the head when null) with a next handle
// when that entry has a successor.
bool callChain(const CallbackNode* previous, int signo, siginfo_t* info, ucontext_t* uap) noexcept {
  TLCrashSignalChain* const chain = gChain;
  if (chain == nullptr) return false;
  chain->callbacks.set_reading(true);
  const CallbackNode* entry = chain->callbacks.next(previous);
  bool handled = false;
  if (entry != nullptr) {
    const CallbackNode* successor = chain->callbacks.next(entry);
    auto* next =
        successor == nullptr
            ? nullptr
            : reinterpret_cast<TLCrashSignalHandlerCallback*>(const_cast<CallbackNode*>(entry));
    const TLCrashSignalCallbackEntry value = entry->value();
    handled = value.callback(signo, info, uap, value.context, next);
  }
  chain->callbacks.set_reading(false);
  return handled;
}

}  // namespace

void tlcrash_signal_chain_use(TLCrashSignalChain* chain) noexcept {
  gChain = chain;
}

bool tlcrash_signal_handler_callback_next(TLCrashSignalHandlerCallback* next, int signo,
                                          siginfo_t* info, ucontext_t* uap) noexcept {
  if (next == nullptr) return false;
  return callChain(reinterpret_cast<const CallbackNode*>(next), signo, info, uap);
}

bool tlcrash_signal_forwarding_callback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                                        TLCrashSignalHandlerCallback* next) noexcept {
  if (next != nullptr && tlcrash_signal_handler_callback_next(next, signo, info, uap)) return true;
  TLCrashSignalChain* const chain = gChain;
  if (chain == nullptr) return false;

  bool found = false;
  struct sigaction previous {};
  chain->previousActions.set_reading(true);
  for (auto* node = chain->previousActions.next(nullptr); node != nullptr;
       node = chain->previousActions.next(node)) {
    if (node->value().signo == signo) {
      previous = node->value().action;
      found = true;
      break;
    }
  }
  chain->previousActions.set_reading(false);
  if (!found) return false;

  if ((previous.sa_flags & SA_SIGINFO) != 0) {
    previous.sa_sigaction(signo, info, uap);
    return true;
  }
  if (previous.sa_handler == SIG_IGN) return true;
  if (previous.sa_handler != SIG_DFL) {
    previous.sa_handler(signo);
    return true;
  }
  return false;
}

void tlcrash_signal_handler_handle(int signo, siginfo_t* info, void* uap) noexcept {
  if (callChain(nullptr, signo, info, static_cast<ucontext_t*>(uap))) return;
  // Nobody handled it: end the process by this signal. The default action is
  // set first, else the re-raised signal would come back here for ever.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signo, &fallback, nullptr);
  ::raise(signo);
}

}  // namespace tlcrash
