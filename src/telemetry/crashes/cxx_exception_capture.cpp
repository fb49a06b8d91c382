#include "telemetry/crashes/cxx_exception_capture.h"

#include <cxxabi.h>
#include <pthread.h>
#include <unwind.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <typeinfo>

namespace tlm {
namespace {

struct ManagerState {
  std::mutex mutex;
  std::vector<TLMCXXExceptionHandler> handlers;
  std::terminate_handler previous = nullptr;
  std::atomic<bool> installed{false};
  pthread_key_t recordKey{};
  std::once_flag keyOnce;
};

ManagerState& state() {
  static ManagerState instance;
  return instance;
}

void makeRecordKey() {
  std::call_once(state().keyOnce, [] { pthread_key_create(&state().recordKey, &std::free); });
}

struct StackWalk {
  std::uint64_t* out;
  std::size_t count;
  int skip;
};

_Unwind_Reason_Code collectFrame(_Unwind_Context* context, void* argument) {
  auto* walk = static_cast<StackWalk*>(argument);
  const std::uintptr_t address = _Unwind_GetIP(context);
  if (address == 0) return _URC_END_OF_STACK;
  if (walk->skip > 0) {
    --walk->skip;
    return _URC_NO_REASON;
  }
  walk->out[walk->count++] = address;
  return walk->count < TLMCXXThrowRecord::kMaxFrames ? _URC_NO_REASON : _URC_END_OF_STACK;
}

// Fills `out` with up to 128 return addresses of the stack, innermost
// first, leaving out this function and the `skip` callers above it. Walks
// the unwinder directly: backtrace() may be intercepted (sanitizers), which
// adds a frame of its own.
__attribute__((noinline)) std::size_t captureStack(std::uint64_t* out, int skip) {
  StackWalk walk{out, 0, 1 + skip};
  _Unwind_Backtrace(&collectFrame, &walk);
  return walk.count;
}

[[noreturn]] void endWithPrevious(std::terminate_handler previous) {
  if (previous) previous();
  std::abort();
}

void terminateHandler() {
  std::exception_ptr current = std::current_exception();
  auto& s = state();
  std::unique_lock lock(s.mutex);
  const std::terminate_handler previous = s.previous;
  if (!current) {
    lock.unlock();
    endWithPrevious(previous);
  }

  // The throw record's first address is the hook itself.
  std::uint64_t frames[TLMCXXThrowRecord::kMaxFrames];
  std::size_t frameCount = 0;
  if (const TLMCXXThrowRecord* record =
          TLMCrashesUncaughtCXXExceptionHandlerManager::currentThrowRecord();
      record && record->frameCount > 0) {
    frameCount = static_cast<std::size_t>(record->frameCount) - 1;
    std::copy_n(record->frames + 1, frameCount, frames);
  } else {
    std::uint64_t own[TLMCXXThrowRecord::kMaxFrames];
    const std::size_t count = captureStack(own, 0);
    frameCount = count > 0 ? count - 1 : 0;
    std::copy_n(own + 1, frameCount, frames);
  }

  const std::type_info* type = abi::__cxa_current_exception_type();
  std::string message;
  bool hasMessage = true;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    message = e.what();
  } catch (const std::exception* e) {
    if (e) message = e->what();
  } catch (const std::string& text) {
    message = text;
  } catch (const std::string* text) {
    if (text) message = *text;
  } catch (const char* text) {
    if (text) message = text;
  } catch (...) {
    hasMessage = false;
  }

  const TLMCXXExceptionInfoRecord info{
      .exceptionHolder = &current,
      .typeName = type ? type->name() : nullptr,
      .message = hasMessage ? message.c_str() : nullptr,
      .frameCount = static_cast<std::uint32_t>(frameCount),
      .frames = frames,
  };
  for (const TLMCXXExceptionHandler handler : s.handlers)
    handler(&info);
  lock.unlock();
  endWithPrevious(previous);
}

}  // namespace

void TLMCrashesUncaughtCXXExceptionHandlerManager::addCXXExceptionHandler(
    TLMCXXExceptionHandler handler) {
  makeRecordKey();
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (!s.installed.load()) {
    s.previous = std::set_terminate(&terminateHandler);
    s.installed.store(true);
  }
  s.handlers.push_back(handler);
}

void TLMCrashesUncaughtCXXExceptionHandlerManager::removeCXXExceptionHandler(
    TLMCXXExceptionHandler handler) {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  if (const auto it = std::find(s.handlers.begin(), s.handlers.end(), handler);
      it != s.handlers.end())
    s.handlers.erase(it);
  if (!s.installed.load() || !s.handlers.empty()) return;
  const std::terminate_handler replaced = std::set_terminate(s.previous);
  if (replaced == &terminateHandler) {
    s.installed.store(false);
    s.previous = nullptr;
  } else {
    // Someone installed a handler over ours: theirs stays.
    std::set_terminate(replaced);
  }
}

std::size_t TLMCrashesUncaughtCXXExceptionHandlerManager::countCXXExceptionHandler() {
  auto& s = state();
  std::lock_guard lock(s.mutex);
  return s.handlers.size();
}

bool TLMCrashesUncaughtCXXExceptionHandlerManager::isRecordingThrows() {
  return state().installed.load(std::memory_order_relaxed);
}

void TLMCrashesUncaughtCXXExceptionHandlerManager::recordThrow(void* thrownException) {
  makeRecordKey();
  auto* record = static_cast<TLMCXXThrowRecord*>(pthread_getspecific(state().recordKey));
  if (!record) {
    record = static_cast<TLMCXXThrowRecord*>(std::calloc(1, sizeof(TLMCXXThrowRecord)));
    // Without a record the terminate handler takes its own backtrace.
    if (!record) return;
    pthread_setspecific(state().recordKey, record);
  }
  record->exception = thrownException;
  // Starts at the throw entry: this function is left out.
  record->frameCount = static_cast<std::int32_t>(captureStack(record->frames, 1));
}

const TLMCXXThrowRecord* TLMCrashesUncaughtCXXExceptionHandlerManager::currentThrowRecord() {
  makeRecordKey();
  return static_cast<const TLMCXXThrowRecord*>(pthread_getspecific(state().recordKey));
}

std::string demangledTypeName(const char* mangled) {
  if (!mangled) return {};
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

TLMCrashesCXXExceptionWrapperException::TLMCrashesCXXExceptionWrapperException(
    const TLMCXXExceptionInfoRecord* info)
    : info_(info),
      name_(info ? demangledTypeName(info->typeName) : std::string()),
      reason_(info && info->message ? std::string(info->message) : std::string()) {}

std::vector<std::uint64_t> TLMCrashesCXXExceptionWrapperException::callStackReturnAddresses()
    const {
  if (!info_ || !info_->frames) return {};
  return std::vector<std::uint64_t>(info_->frames, info_->frames + info_->frameCount);
}

platform::UncaughtException TLMCrashesCXXExceptionWrapperException::toUncaughtException() const {
  return {name_, reason_, callStackReturnAddresses()};
}

}  // namespace tlm
