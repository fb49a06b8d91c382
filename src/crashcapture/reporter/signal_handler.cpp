#include "crashcapture/reporter/signal_handler.h"

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "crashcapture/reporter/async_list.h"

namespace tlcrash {
namespace {

struct CallbackEntry {
  TLCrashSignalHandlerCallbackFunc callback;
  void* context;
};

struct PreviousAction {
  int signo;
  struct sigaction action;
};

// The lists the handler walks: process-wide, made before main runs; their
// destructors free every node at exit.
struct SharedContext {
  async_list<CallbackEntry> callbacks;
  async_list<PreviousAction> previousActions;
};
SharedContext gShared;

// Serialises registration (never taken on the signal path).
std::mutex& registrationMutex() {
  static std::mutex mutex;
  return mutex;
}

using CallbackNode = async_list<CallbackEntry>::node;

// Calls the entry after `previous` (the head when null) with a next handle
// when that entry has a successor.
bool callChain(const CallbackNode* previous, int signo, siginfo_t* info, ucontext_t* uap) noexcept {
  gShared.callbacks.set_reading(true);
  const CallbackNode* entry = gShared.callbacks.next(previous);
  bool handled = false;
  if (entry != nullptr) {
    const CallbackNode* successor = gShared.callbacks.next(entry);
    auto* next =
        successor == nullptr
            ? nullptr
            : reinterpret_cast<TLCrashSignalHandlerCallback*>(const_cast<CallbackNode*>(entry));
    const CallbackEntry value = entry->value();
    handled = value.callback(signo, info, uap, value.context, next);
  }
  gShared.callbacks.set_reading(false);
  return handled;
}

// Hands the signal to the action that was installed before ours, after the
// rest of the chain had its turn.
bool forwardingCallback(int signo, siginfo_t* info, ucontext_t* uap, void*,
                        TLCrashSignalHandlerCallback* next) {
  if (next != nullptr && tlcrash_signal_handler_callback_next(next, signo, info, uap)) return true;

  bool found = false;
  struct sigaction previous {};
  gShared.previousActions.set_reading(true);
  for (auto* node = gShared.previousActions.next(nullptr); node != nullptr;
       node = gShared.previousActions.next(node)) {
    if (node->value().signo == signo) {
      previous = node->value().action;
      found = true;
      break;
    }
  }
  gShared.previousActions.set_reading(false);
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

void handleSignal(int signo, siginfo_t* info, void* uap) {
  if (callChain(nullptr, signo, info, static_cast<ucontext_t*>(uap))) return;
  // Nobody handled it: end the process by this signal. The default action is
  // set first, else the re-raised signal would come back here for ever.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  ::sigaction(signo, &fallback, nullptr);
  ::raise(signo);
}

}  // namespace

bool tlcrash_signal_handler_callback_next(TLCrashSignalHandlerCallback* next, int signo,
                                          siginfo_t* info, ucontext_t* uap) noexcept {
  if (next == nullptr) return false;
  return callChain(reinterpret_cast<const CallbackNode*>(next), signo, info, uap);
}

TLCrashSignalHandler* TLCrashSignalHandler::sharedHandler() {
  static TLCrashSignalHandler* const shared = []() -> TLCrashSignalHandler* {
    void* memory = std::malloc(kAlternateStackSize);
    if (memory == nullptr) return nullptr;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = kAlternateStackSize;
    stack.ss_flags = 0;
    // Lives as long as the process: a signal may arrive at any time.
    return new TLCrashSignalHandler(stack);
  }();
  return shared;
}

bool TLCrashSignalHandler::registerHandlerForSignal(int signo,
                                                    TLCrashSignalHandlerCallbackFunc callback,
                                                    void* context, ReporterError* error) {
  if (!registerHandlerWithSignal(signo, error)) return false;
  if (!gShared.callbacks.prepend(CallbackEntry{callback, context})) {
    tlcrash_populate_posix_error(error, ENOMEM, "Failed to register signal handler");
    return false;
  }
  return true;
}

bool TLCrashSignalHandler::registerHandlerWithSignal(int signo, ReporterError* error) {
  std::lock_guard<std::mutex> guard(registrationMutex());

  if (::sigaltstack(&sigstk_, nullptr) != 0) {
    tlcrash_populate_posix_error(error, errno, "Could not initialize alternative signal stack");
    return false;
  }

  if (!gShared.callbacks.append(CallbackEntry{forwardingCallback, nullptr})) {
    tlcrash_populate_posix_error(error, ENOMEM, "Failed to register signal handler");
    return false;
  }

  bool installed = false;
  gShared.previousActions.set_reading(true);
  for (auto* node = gShared.previousActions.next(nullptr); node != nullptr;
       node = gShared.previousActions.next(node)) {
    if (node->value().signo == signo) {
      installed = true;
      break;
    }
  }
  gShared.previousActions.set_reading(false);
  if (installed) return true;

  struct sigaction action {};
  action.sa_sigaction = handleSignal;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  PreviousAction previous{};
  previous.signo = signo;
  if (::sigaction(signo, &action, &previous.action) != 0) {
    tlcrash_populate_posix_error(error, errno, "Failed to register signal handler");
    return false;
  }
  // After resetHandlers() our own handler is still installed and comes back
  // as the previous action; forwarding to it would recurse without end, so
  // it counts as the default action.
  if ((previous.action.sa_flags & SA_SIGINFO) != 0 &&
      previous.action.sa_sigaction == handleSignal) {
    previous.action = {};
    previous.action.sa_handler = SIG_DFL;
  }
  if (!gShared.previousActions.append(previous)) {
    tlcrash_populate_posix_error(error, ENOMEM, "Failed to register signal handler");
    return false;
  }
  return true;
}

void TLCrashSignalHandler::resetHandlers() {
  // Entries are removed one at a time from the front until the lists are empty.
  while (gShared.previousActions.remove_if([](const PreviousAction&) { return true; })) {
  }
  while (gShared.callbacks.remove_if([](const CallbackEntry&) { return true; })) {
  }
}

}  // namespace tlcrash
