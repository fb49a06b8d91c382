#pragma once

// Method names from the object runtime's class metadata of an image, for
// addresses the symbol table does not name. Not read yet: the parser of the
// metadata is still to come, so every look-up answers notFound.
// Crash path: every function here is async-signal-safe.

#include <cstdint>

#include "crashcapture/async/error.h"
#include "crashcapture/image/macho.h"
#include "crashcapture/platform/mach_types.h"

namespace tlcrash {

// What the parser keeps between look-ups of one report.
struct tlcrash_async_objc_cache {
  // The image whose metadata sections are mapped now (none yet).
  const tlcrash_async_macho* image = nullptr;
};

tlcrash_error_t tlcrash_async_objc_cache_init(tlcrash_async_objc_cache* cache) noexcept;
void tlcrash_async_objc_cache_free(tlcrash_async_objc_cache* cache) noexcept;

// Called with the method found: whether it is a class method, the class and
// method names (each with its length, not NUL-terminated; null when it could
// not be read) and the method's address.
using tlcrash_async_objc_found_method_cb = void (*)(bool is_class_method, const char* class_name,
                                                    std::size_t class_name_length,
                                                    const char* method_name,
                                                    std::size_t method_name_length,
                                                    tlcrash_vm_address_t method_address,
                                                    void* context);

// The method of `image` whose implementation starts closest below `pc`.
// accessDenied without a cache; notFound otherwise for now.
tlcrash_error_t tlcrash_async_objc_find_method(const tlcrash_async_macho* image,
                                               tlcrash_async_objc_cache* cache,
                                               tlcrash_vm_address_t pc,
                                               tlcrash_async_objc_found_method_cb callback,
                                               void* context) noexcept;

}  // namespace tlcrash
