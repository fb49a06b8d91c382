#include "platform/exceptions/uncaught_exception.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<UncaughtExceptionHandler>& handlerSlot() {
  static std::atomic<UncaughtExceptionHandler> slot{nullptr};
  return slot;
}

}  // namespace

UncaughtExceptionHandler getUncaughtExceptionHandler() {
  return handlerSlot().load(std::memory_order_acquire);
}

void setUncaughtExceptionHandler(UncaughtExceptionHandler handler) {
  handlerSlot().store(handler, std::memory_order_release);
}

}  // namespace platform
