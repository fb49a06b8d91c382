// The program's own entry for C++ throws: every throw of the program (and,
// with the symbol exported, of the libraries it loads) passes here first, so
// that the stack of the throw is known when the exception later escapes.
// Built as an object library and linked into executables: an archive member
// that nothing references would be left out.

#include <dlfcn.h>

#include <cstdlib>
#include <typeinfo>

#include "telemetry/crashes/cxx_exception_capture.h"

namespace {

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

CxaThrow runtimeThrow() {
  static const CxaThrow next = reinterpret_cast<CxaThrow>(::dlsym(RTLD_NEXT, "__cxa_throw"));
  return next;
}

}  // namespace

extern "C" [[noreturn]] void __cxa_throw(void* thrownException, std::type_info* typeInfo,
                                         void (*destructor)(void*)) {
  const CxaThrow next = runtimeThrow();
  if (tlm::TLMCrashesUncaughtCXXExceptionHandlerManager::isRecordingThrows())
    tlm::TLMCrashesUncaughtCXXExceptionHandlerManager::recordThrow(thrownException);
  if (!next) std::abort();
  next(thrownException, typeInfo, destructor);
  std::abort();  // the runtime's throw does not return
}
