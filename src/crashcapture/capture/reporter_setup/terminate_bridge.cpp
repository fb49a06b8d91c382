#include "crashcapture/capture/reporter_setup/terminate_bridge.h"

#include <cxxabi.h>
#include <execinfo.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <typeinfo>

namespace tlcrash {
namespace {

constexpr int kMaxReturnAddresses = 128;

std::atomic<TLCrashUncaughtExceptionHandler> gHandler{nullptr};
std::terminate_handler gPreviousTerminate = nullptr;

std::string demangled(const char* name) {
  int status = 0;
  char* text = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string result = status == 0 && text != nullptr ? text : name;
  std::free(text);
  return result;
}

[[noreturn]] void onTerminate() {
  const TLCrashUncaughtExceptionHandler handler = gHandler.load();
  const std::exception_ptr current = std::current_exception();
  if (handler != nullptr && current) {
    TLCrashUncaughtException exception;
    const std::type_info* type = abi::__cxa_current_exception_type();
    exception.name = type != nullptr ? demangled(type->name()) : "unknown";
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& error) {
      exception.reason = error.what();
    } catch (...) {
    }
    // An uncaught exception ends the program before its stack is unwound, so
    // the throw's frames are still below this one.
    void* frames[kMaxReturnAddresses];
    const int count = ::backtrace(frames, kMaxReturnAddresses);
    for (int i = 0; i < count; ++i)
      exception.callStackReturnAddresses.push_back(reinterpret_cast<std::uintptr_t>(frames[i]));
    handler(exception);
  }
  if (gPreviousTerminate != nullptr) gPreviousTerminate();
  std::abort();
}

}  // namespace

TLCrashUncaughtExceptionHandler tlcrash_set_uncaught_exception_handler(
    TLCrashUncaughtExceptionHandler handler) {
  return gHandler.exchange(handler);
}

TLCrashUncaughtExceptionHandler tlcrash_uncaught_exception_handler() {
  return gHandler.load();
}

void tlcrash_install_terminate_bridge() {
  static std::once_flag once;
  std::call_once(once, [] { gPreviousTerminate = std::set_terminate(onTerminate); });
}

}  // namespace tlcrash
