#include "crashcapture/capture/reporter_setup/signal_handler.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

namespace tlcrash {
namespace {

// The lists the handler walks: process-wide, made before main runs; their
// destructors free every node at exit.
TLCrashSignalChain gSignalChain;

// Serialises registration (never taken on the signal path).
std::mutex& registrationMutex() {
  static std::mutex mutex;
  return mutex;
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
  if (!gSignalChain.callbacks.prepend(TLCrashSignalCallbackEntry{callback, context})) {
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

  tlcrash_signal_chain_use(&gSignalChain);
  if (!gSignalChain.callbacks.append(
          TLCrashSignalCallbackEntry{tlcrash_signal_forwarding_callback, nullptr})) {
    tlcrash_populate_posix_error(error, ENOMEM, "Failed to register signal handler");
    return false;
  }

  bool installed = false;
  gSignalChain.previousActions.set_reading(true);
  for (auto* node = gSignalChain.previousActions.next(nullptr); node != nullptr;
       node = gSignalChain.previousActions.next(node)) {
    if (node->value().signo == signo) {
      installed = true;
      break;
    }
  }
  gSignalChain.previousActions.set_reading(false);
  if (installed) return true;

  struct sigaction action {};
  action.sa_sigaction = tlcrash_signal_handler_handle;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  TLCrashSignalPreviousAction previous{};
  previous.signo = signo;
  if (::sigaction(signo, &action, &previous.action) != 0) {
    tlcrash_populate_posix_error(error, errno, "Failed to register signal handler");
    return false;
  }
  // After resetHandlers() our own handler is still installed and comes back
  // as the previous action; forwarding to it would recurse without end, so
  // it counts as the default action.
  if ((previous.action.sa_flags & SA_SIGINFO) != 0 &&
      previous.action.sa_sigaction == tlcrash_signal_handler_handle) {
    previous.action = {};
    previous.action.sa_handler = SIG_DFL;
  }
  if (!gSignalChain.previousActions.append(previous)) {
    tlcrash_populate_posix_error(error, ENOMEM, "Failed to register signal handler");
    return false;
  }
  return true;
}

void TLCrashSignalHandler::resetHandlers() {
  // Entries are removed one at a time from the front until the lists are empty.
  while (gSignalChain.previousActions.remove_if(
      [](const TLCrashSignalPreviousAction&) { return true; })) {
  }
  while (gSignalChain.callbacks.remove_if([](const TLCrashSignalCallbackEntry&) { return true; })) {
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
