#pragma once

// Method names from the object runtime's class metadata of an image, for
// addresses the symbol table does not name. Two forms are read: the old one
// (the __OBJC,__module_info records of 32-bit images, whose classes are read
// from the task) and the class-list form (__objc_classlist and
// __objc_catlist, whose classes the runtime has realized: their class data
// words point at a read-write record with the realized flag, which points at
// the read-only data with the name and the method list). Relative method
// lists and newer class-data layouts are not read; they answer invalidData.
// Crash path: every function here is async-signal-safe (the class-data cache
// is one anonymous mapping, made on first use).

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/image/macho.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {

// One slot of the class-data cache: a class-data address and the read-only
// data it leads to.
struct tlcrash_async_objc_class_cache_entry {
  tlcrash_vm_address_t class_data = 0;
  // The read-only data's address; bit 0 set when it must be read from the
  // task rather than from the image's __objc_const section.
  tlcrash_vm_address_t class_ro = 0;
};

inline constexpr std::size_t TLCRASH_ASYNC_OBJC_CLASS_CACHE_SLOTS = 1024;

// What the parser keeps between look-ups of one report.
struct tlcrash_async_objc_cache {
  // Set once an image was read in the class-list form; the old form is not
  // tried again then.
  bool classlist_form_known = false;

  // The image whose metadata sections are mapped now (none yet), and the
  // range its segments cover (the read-only data of a class outside it was
  // copied by the runtime and is read from the task).
  const tlcrash_async_macho* image = nullptr;
  tlcrash_vm_address_t image_start = 0;
  tlcrash_vm_address_t image_end = 0;

  tlcrash_async_mobject objc_const = {};
  bool objc_const_mapped = false;
  tlcrash_async_mobject objc_const_ax = {};
  bool objc_const_ax_mapped = false;
  tlcrash_async_mobject classlist = {};
  bool classlist_mapped = false;
  tlcrash_async_mobject catlist = {};
  bool catlist_mapped = false;
  tlcrash_async_mobject objc_data = {};
  bool objc_data_mapped = false;
  tlcrash_async_mobject data = {};
  bool data_mapped = false;

  // Open-addressed by (class-data address / 4) mod the slot count; null until
  // first used, and left off when it cannot be allocated.
  tlcrash_async_objc_class_cache_entry* class_cache = nullptr;
  bool class_cache_failed = false;
};

// Clears everything.
tlcrash_error_t tlcrash_async_objc_cache_init(tlcrash_async_objc_cache* cache) noexcept;
// Releases the section views and the class-data cache; the cache is cleared.
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

// The method of `image` whose implementation starts closest below (or at)
// `pc`; when several start there, the first met (a class's instance methods
// come before its class methods, classes before categories). accessDenied
// without a cache; notFound when no method starts at or below `pc` or the
// image has no metadata; invalidData (or a task read's error) for metadata
// that points outside where it must lie. Unrealized classes, and categories
// of them, are skipped.
tlcrash_error_t tlcrash_async_objc_find_method(const tlcrash_async_macho* image,
                                               tlcrash_async_objc_cache* cache,
                                               tlcrash_vm_address_t pc,
                                               tlcrash_async_objc_found_method_cb callback,
                                               void* context) noexcept;

// A NUL-terminated string of a task, found on first use: 4096 bytes are
// viewed at its address (fewer when not all are readable) and, while no NUL
// is found inside, one more page each time, up to
// TLCRASH_ASYNC_LAZY_STRING_LIMIT bytes.
struct tlcrash_async_lazy_string {
  const Task* task = nullptr;
  tlcrash_vm_address_t address = 0;
  tlcrash_async_mobject mobj = {};
  bool mapped = false;
  std::size_t length = 0;  // without the NUL
};

inline constexpr std::size_t TLCRASH_ASYNC_LAZY_STRING_LIMIT = 16 * 4096;

void tlcrash_async_lazy_string_init(tlcrash_async_lazy_string* string, const Task& task,
                                    tlcrash_vm_address_t address) noexcept;
// The string's bytes and length. A view's error when nothing at the address
// can be viewed; accessDenied when no NUL lies in what can be viewed (or
// within the limit).
tlcrash_error_t tlcrash_async_lazy_string_get(tlcrash_async_lazy_string* string, const char** bytes,
                                              std::size_t* length) noexcept;
void tlcrash_async_lazy_string_free(tlcrash_async_lazy_string* string) noexcept;

}  // namespace tlcrash
