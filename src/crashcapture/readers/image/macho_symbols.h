#pragma once

// The symbol table of a Mach-O image (LC_SYMTAB, with the global and local
// ranges of LC_DYSYMTAB when the image has one) and the look-ups of a symbol
// by address and by name.
// Crash path: every function here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/image/macho.h"

namespace tlcrash {

// One nlist record, in host order. normalized_value is n_value with bit 0 set
// for a Thumb definition.
struct tlcrash_async_macho_symtab_entry {
  std::uint32_t n_strx = 0;
  std::uint8_t n_type = 0;
  std::uint8_t n_sect = 0;
  std::uint16_t n_desc = 0;
  tlcrash_vm_address_t n_value = 0;
  tlcrash_vm_address_t normalized_value = 0;
};

struct tlcrash_async_macho_symtab_reader {
  const tlcrash_async_macho* image = nullptr;
  tlcrash_async_macho_mapped_segment linkedit = {};
  // All entries, and the global (external defined) and local ranges when the
  // image has a dynamic symbol table (has_dynamic_ranges).
  const std::uint8_t* symtab = nullptr;
  std::uint32_t nsyms = 0;
  const std::uint8_t* symtab_global = nullptr;
  std::uint32_t nsyms_global = 0;
  const std::uint8_t* symtab_local = nullptr;
  std::uint32_t nsyms_local = 0;
  bool has_dynamic_ranges = false;
  const char* string_table = nullptr;
  std::size_t string_table_size = 0;
};

// Finds the symbol table of `image` inside its __LINKEDIT segment. notFound
// without LC_SYMTAB; invalidArgument when a symbol-table command is too short
// or a dynamic range does not fit the symbol count; internal when __LINKEDIT
// cannot be viewed or the entries or strings lie outside it.
tlcrash_error_t tlcrash_async_macho_symtab_reader_init(tlcrash_async_macho_symtab_reader* reader,
                                                       const tlcrash_async_macho* image) noexcept;
void tlcrash_async_macho_symtab_reader_free(tlcrash_async_macho_symtab_reader* reader) noexcept;

// Entry `index` of the `symtab` table (one of the reader's three); the caller
// keeps `index` below that table's count.
tlcrash_async_macho_symtab_entry tlcrash_async_macho_symtab_reader_read(
    const tlcrash_async_macho_symtab_reader* reader, const std::uint8_t* symtab,
    std::uint32_t index) noexcept;

// The NUL-terminated name at `n_strx` of the string table, or null when it
// does not start and end inside the table.
const char* tlcrash_async_macho_symtab_reader_symbol_name(
    const tlcrash_async_macho_symtab_reader* reader, std::uint32_t n_strx) noexcept;

// Called with the symbol's start (normalized value + slide) and its name.
using tlcrash_async_macho_found_symbol_cb = void (*)(tlcrash_vm_address_t address, const char* name,
                                                     void* context);

// The symbol of the address `pc`: the symbol defined in a section with the
// greatest value not above pc - slide (globals first, then locals when the
// image has the dynamic ranges). notFound when no symbol is at or below it;
// invalidArgument when its name runs outside the string table; the reader's
// set-up errors.
tlcrash_error_t tlcrash_async_macho_find_symbol_by_pc(const tlcrash_async_macho* image,
                                                      tlcrash_vm_address_t pc,
                                                      tlcrash_async_macho_found_symbol_cb callback,
                                                      void* context) noexcept;

// The address (value + slide) of the first symbol defined in a section whose
// name is exactly `name`. notFound when there is none.
tlcrash_error_t tlcrash_async_macho_find_symbol_by_name(const tlcrash_async_macho* image,
                                                        const char* name,
                                                        tlcrash_vm_address_t* address) noexcept;

}  // namespace tlcrash
