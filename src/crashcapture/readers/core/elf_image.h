#pragma once

// A loaded ELF image read through task memory: where it lies, its GNU build
// id (the image's UUID in reports), where its .eh_frame_hdr and .eh_frame
// are, and the nearest dynamic symbol at or below an address. Only 64-bit
// little-endian images are read. Reading an image touches only its headers,
// notes and dynamic section, which the loader has read already; its unwind
// tables are read when a stack is walked. Every value taken from the image is bounds
// checked: a damaged image answers an error, never a read outside what its
// headers describe.
// Crash path: every function here is async-signal-safe.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"

namespace tlcrash {

inline constexpr std::size_t TLCRASH_ELF_BUILD_ID_MAX = 64;

struct tlcrash_async_elf_image {
  const Task* task;
  // The address of the ELF header (the load segment at file offset 0).
  tlcrash_vm_address_t header_address;
  // Added to the image's virtual addresses to give the loaded ones (modulo
  // 2^64).
  tlcrash_vm_address_t slide;
  // The text range: from the header to the end of the last executable load
  // segment.
  tlcrash_vm_address_t text_start;
  tlcrash_vm_size_t text_size;
  // The span of all load segments, loaded addresses.
  tlcrash_vm_address_t load_start;
  tlcrash_vm_address_t load_end;
  cpu_type_t cpu_type;  // 0 for a machine reports cannot name
  cpu_subtype_t cpu_subtype;
  // The NT_GNU_BUILD_ID note's bytes; size 0 when the image has none (or a
  // longer one than fits).
  std::uint8_t build_id[TLCRASH_ELF_BUILD_ID_MAX];
  std::size_t build_id_size;
  // PT_GNU_EH_FRAME (.eh_frame_hdr); 0 when absent.
  tlcrash_vm_address_t eh_frame_hdr;
  tlcrash_vm_size_t eh_frame_hdr_size;
  // PT_DYNAMIC; 0 when absent.
  tlcrash_vm_address_t dynamic;
  tlcrash_vm_size_t dynamic_size;
};

// Reads the image whose ELF header is at `header_address` of `task`.
// invalidData for a header or program headers that are not a loaded ELF
// image; notSupported for a 32-bit or big-endian one; the read's error when
// its headers cannot be read. The task must outlive the image.
tlcrash_error_t tlcrash_async_elf_image_init(tlcrash_async_elf_image* image, const Task& task,
                                             tlcrash_vm_address_t header_address) noexcept;

// Whether `address` lies in the image's text range.
bool tlcrash_async_elf_image_contains_address(const tlcrash_async_elf_image* image,
                                              tlcrash_vm_address_t address) noexcept;

// The start of .eh_frame as .eh_frame_hdr gives it; 0 when the image has no
// header, or one of another version or in an encoding not read here.
tlcrash_vm_address_t tlcrash_async_elf_eh_frame(const tlcrash_async_elf_image* image) noexcept;

// The number of bytes from `eh_frame` (the section's start) to the end of
// the image's load span: the window its entries are read in (the section
// itself ends with a zero-length entry). 0 when `eh_frame` is 0 or lies
// outside the span.
tlcrash_vm_size_t tlcrash_async_elf_eh_frame_extent(const tlcrash_async_elf_image* image,
                                                    tlcrash_vm_address_t eh_frame) noexcept;

// Looks `pc` up in .eh_frame_hdr's sorted search table (binary search) and
// gives the offset, from .eh_frame's start, of the FDE of the entry with the
// greatest initial location at or below `pc`; that FDE covers `pc` unless
// `pc` lies in a gap between functions. notFound when the image has no
// table or `pc` lies below its first entry; notSupported for a header version
// or table encoding not read here (only the usual pc-relative/data-relative
// 4-byte forms are); invalidData for a damaged table: more entries than its
// segment holds, entries met out of order, or an FDE outside .eh_frame's
// window; the read's error when the table cannot be read.
tlcrash_error_t tlcrash_async_elf_find_fde_offset(const tlcrash_async_elf_image* image,
                                                  tlcrash_vm_address_t pc,
                                                  tlcrash_vm_off_t* fde_offset) noexcept;

// Called with the symbol's loaded address and its name (NUL-terminated, at
// most 255 bytes, valid during the call only).
using tlcrash_async_elf_found_symbol_cb = void (*)(tlcrash_vm_address_t address, const char* name,
                                                   void* context);

// Finds, among the defined function symbols of the image's .dynsym (through
// DT_SYMTAB and DT_STRTAB, counted through DT_HASH or DT_GNU_HASH), the one
// with the greatest address at or below `pc`, and calls `callback` with it.
// notFound when `pc` is outside the text range, the image has no dynamic
// symbols, none lies at or below `pc` or `pc` lies past the end of the one
// that does (in a function the image does not export); invalidData when its dynamic section
// or tables are damaged.
tlcrash_error_t tlcrash_async_elf_find_symbol_by_pc(const tlcrash_async_elf_image* image,
                                                    tlcrash_vm_address_t pc,
                                                    tlcrash_async_elf_found_symbol_cb callback,
                                                    void* context) noexcept;

}  // namespace tlcrash
