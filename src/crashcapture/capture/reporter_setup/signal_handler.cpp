#include "crashcapture/capture/reporter/signal_handler.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "crashcapture/capture/reporter/async_list.h"

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

// An alternate signal stack of the calling thread, for the thread's
// lifetime: mapped with a guard page below it and set when the thread has
// none yet; unset and unmapped at the end when it is still the thread's.
class ThreadAlternateStack {
 public:
  ThreadAlternateStack() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
    const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t size = TLCrashSignalHandler::kAlternateStackSize;
    void* mapped = ::mmap(nullptr, size + page, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mapped == MAP_FAILED) return;
    ::mprotect(mapped, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapped) + page;
    stack.ss_size = size;
    if (::sigaltstack(&stack, nullptr) != 0) {
      ::munmap(mapped, size + page);
      return;
    }
    mapping_ = mapped;
    length_ = size + page;
    stack_ = stack.ss_sp;
  }
  ~ThreadAlternateStack() {
    if (mapping_ == nullptr) return;
    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0) return;
    // Another stack was set meanwhile: ours may be unmapped all the same.
    if (current.ss_sp == stack_ && (current.ss_flags & SS_DISABLE) == 0) {
      stack_t off{};
      off.ss_flags = SS_DISABLE;
      if (::sigaltstack(&off, nullptr) != 0) return;
    }
    ::munmap(mapping_, length_);
  }
  ThreadAlternateStack(const ThreadAlternateStack&) = delete;
  ThreadAlternateStack& operator=(const ThreadAlternateStack&) = delete;

 private:
  void* mapping_ = nullptr;
  std::size_t length_ = 0;
  void* stack_ = nullptr;
};

struct ThreadStart {
  void* (*routine)(void*);
  void* argument;
};

// Every new thread starts here: with an alternate stack of its own, the
// handler can run after the thread overflows its stack. The stack goes when
// the routine returns, or when the thread exits or is cancelled (both unwind
// through this frame).
void* startWithAlternateStack(void* raw) {
  const ThreadStart start = *static_cast<ThreadStart*>(raw);
  std::free(raw);
  const ThreadAlternateStack stack;
  return start.routine(start.argument);
}

using ThreadCreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

ThreadCreateFunction nextThreadCreate() {
  static const auto next =
      reinterpret_cast<ThreadCreateFunction>(::dlsym(RTLD_NEXT, "pthread_create"));
  return next;
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

// The whole program's pthread_create (the executable exports it, so
// libraries' threads come here too): gives the new thread an alternate signal
// stack and hands over to the next definition (the C library's, or a
// sanitizer's).
extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) noexcept {
  const auto next = tlcrash::nextThreadCreate();
  if (next == nullptr) return EAGAIN;
  auto* start = static_cast<tlcrash::ThreadStart*>(std::malloc(sizeof(tlcrash::ThreadStart)));
  if (start == nullptr) return next(thread, attributes, routine, argument);
  *start = {routine, argument};
  const int result = next(thread, attributes, tlcrash::startWithAlternateStack, start);
  if (result != 0) std::free(start);
  return result;
}
