#pragma once

// The name of the function holding an address, from the sources the
// reporter's symbolication strategy allows: the image's symbol table (for an
// ELF image its dynamic symbols) and the object runtime's class metadata.
// Crash path: every function here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/objc.h"

namespace tlcrash {

// Bits of a symbolication strategy.
inline constexpr std::uint32_t TLCRASH_ASYNC_SYMBOL_STRATEGY_NONE = 0;
inline constexpr std::uint32_t TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE = 1;
inline constexpr std::uint32_t TLCRASH_ASYNC_SYMBOL_STRATEGY_OBJC = 2;
inline constexpr std::uint32_t TLCRASH_ASYNC_SYMBOL_STRATEGY_ALL = 3;

// Names are cut to this many bytes, the terminating NUL included.
inline constexpr std::size_t TLCRASH_ASYNC_SYMBOL_NAME_SIZE = 256;

// Called with the symbol's start address and its name (NUL-terminated, at
// most 255 characters).
using tlcrash_async_found_symbol_cb = void (*)(tlcrash_vm_address_t address, const char* name,
                                               void* context);

// The symbol of `pc` in `image`. With the symbol-table bit the symbol table is
// asked; with the object-runtime bit a method found there replaces that
// answer when none was found or the method does not start below it (so a
// method wins a tie), named "-[Class method]" or "+[Class method]".
// notFound when neither names it; internal when a method was found but its
// class or method name could not be read.
tlcrash_error_t tlcrash_async_find_symbol(const tlcrash_async_macho* image, std::uint32_t strategy,
                                          tlcrash_async_objc_cache* cache, tlcrash_vm_address_t pc,
                                          tlcrash_async_found_symbol_cb callback,
                                          void* context) noexcept;

// The symbol of `pc` in a listed image of either format: for a Mach-O image
// as tlcrash_async_find_symbol; for an ELF image, with the symbol-table bit,
// the nearest defined function of its .dynsym at or below `pc` (ELF images
// carry no object-runtime metadata). notFound when nothing names it;
// invalidData for damaged dynamic tables.
tlcrash_error_t tlcrash_async_find_image_symbol(
    const tlcrash_async_image* image, std::uint32_t strategy, tlcrash_async_objc_cache* cache,
    tlcrash_vm_address_t pc, tlcrash_async_found_symbol_cb callback, void* context) noexcept;

// Writes "-[class method]" (or "+[" for a class method) into `buffer`, cut to
// TLCRASH_ASYNC_SYMBOL_NAME_SIZE - 1 characters and NUL-terminated.
void tlcrash_async_format_method_name(char (&buffer)[TLCRASH_ASYNC_SYMBOL_NAME_SIZE],
                                      bool is_class_method, const char* class_name,
                                      std::size_t class_name_length, const char* method_name,
                                      std::size_t method_name_length) noexcept;

}  // namespace tlcrash
