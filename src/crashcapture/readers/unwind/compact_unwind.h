#pragma once

// The compact unwind reader: finds the 32-bit compact unwind encoding of the
// function holding a PC in an image's __TEXT,__unwind_info section (version
// 1: a first-level index over regular or compressed second-level pages),
// decodes it into an entry and applies the entry to a frame's registers to
// get the caller's frame. Every table is checked against the mapped section
// before it is read.
// Crash path: async-signal-safe, no allocation.

#include <cstddef>
#include <cstdint>

#include "crashcapture/platform/mach_types.h"
#include "crashcapture/platform/task.h"
#include "crashcapture/readers/core/crash_error.h"
#include "crashcapture/readers/core/frame_error.h"
#include "crashcapture/readers/core/memory.h"
#include "crashcapture/readers/core/thread_state.h"
#include "crashcapture/readers/image/image_list.h"
#include "crashcapture/readers/image/mobject.h"

namespace tlcrash {

// The section header's seven words.
struct tlcrash_async_cfe_header {
  std::uint32_t version;
  std::uint32_t common_encodings_offset;
  std::uint32_t common_encodings_count;
  std::uint32_t personality_offset;
  std::uint32_t personality_count;
  std::uint32_t index_offset;
  std::uint32_t index_count;
};

struct tlcrash_async_cfe_reader {
  // A copy of the view of the section; the caller keeps the section mapped.
  tlcrash_async_mobject mobj;
  cpu_type_t cputype;
  const tlcrash_async_byteorder* byteorder;
  tlcrash_async_cfe_header header;
};

// notSupported for a CPU type other than x86, x86-64 and arm64 or a version
// other than 1; invalidArgument when the header does not fit in the section.
tlcrash_error_t tlcrash_async_cfe_reader_init(tlcrash_async_cfe_reader* reader,
                                              const tlcrash_async_mobject* mobj, cpu_type_t cputype,
                                              const tlcrash_async_byteorder* byteorder) noexcept;

// The entry covering `pc` (relative to the image's Mach header): its
// function's offset from the header and its encoding. notFound when no entry
// covers it; invalidArgument when a table does not fit in the section, or a
// page kind or encoding index is invalid.
tlcrash_error_t tlcrash_async_cfe_reader_find_pc(const tlcrash_async_cfe_reader* reader,
                                                 std::uint64_t pc, std::uint64_t* function_base,
                                                 std::uint32_t* encoding) noexcept;

void tlcrash_async_cfe_reader_free(tlcrash_async_cfe_reader* reader) noexcept;

enum class tlcrash_async_cfe_entry_type_t : std::int32_t {
  frameBased = 1,          // a frame pointer frame; registers saved below it
  framelessImmediate = 2,  // no frame pointer, the stack size in the encoding
  framelessIndirect = 3,   // no frame pointer, the stack size in the function's code
  dwarf = 4,               // the function's FDE offset in __eh_frame
  none = 5,                // no unwind information
};

// A saved-register slot that holds nothing, and the return-address register
// of an entry whose return address is on the stack.
inline constexpr std::uint32_t TLCRASH_ASYNC_CFE_REG_NONE = 2147483647;
inline constexpr std::size_t TLCRASH_ASYNC_CFE_SAVED_REGISTER_MAX = 10;

struct tlcrash_async_cfe_entry {
  tlcrash_async_cfe_entry_type_t type;
  cpu_type_t cputype;
  // Frame-based: from the frame pointer to the saved registers (negative).
  // Frameless immediate: the stack size, return address included. Frameless
  // indirect: the offset in the function of the 32-bit stack size. DWARF:
  // the FDE's offset.
  std::int64_t stack_offset;
  // Frameless indirect: added to the stack size read from the code.
  std::uint32_t stack_adjust;
  std::uint32_t return_address_register;
  std::uint32_t register_count;
  // Registers in the thread-state numbering, slot 0 lowest in memory;
  // TLCRASH_ASYNC_CFE_REG_NONE for a hole.
  std::uint32_t register_list[TLCRASH_ASYNC_CFE_SAVED_REGISTER_MAX];
};

// Decodes `encoding` for `cputype`. notSupported for another CPU type or an
// unsupported mode; invalidArgument for an invalid register code, count or
// permutation.
tlcrash_error_t tlcrash_async_cfe_entry_init(tlcrash_async_cfe_entry* entry, cpu_type_t cputype,
                                             std::uint32_t encoding) noexcept;

inline tlcrash_async_cfe_entry_type_t tlcrash_async_cfe_entry_type(
    const tlcrash_async_cfe_entry* entry) noexcept {
  return entry->type;
}
inline std::int64_t tlcrash_async_cfe_entry_stack_offset(
    const tlcrash_async_cfe_entry* entry) noexcept {
  return entry->stack_offset;
}
inline std::uint32_t tlcrash_async_cfe_entry_stack_adjustment(
    const tlcrash_async_cfe_entry* entry) noexcept {
  return entry->stack_adjust;
}
inline std::uint32_t tlcrash_async_cfe_entry_return_address_register(
    const tlcrash_async_cfe_entry* entry) noexcept {
  return entry->return_address_register;
}
inline std::uint32_t tlcrash_async_cfe_entry_register_count(
    const tlcrash_async_cfe_entry* entry) noexcept {
  return entry->register_count;
}
// Copies the register_count slots into `registers`.
void tlcrash_async_cfe_entry_register_list(const tlcrash_async_cfe_entry* entry,
                                           std::uint32_t* registers) noexcept;

void tlcrash_async_cfe_entry_free(tlcrash_async_cfe_entry* entry) noexcept;

// Fills `next` with the caller of `current` by `entry`, for the function
// starting at `function_address`: volatile registers cleared, the stack and
// instruction pointers and the saved registers restored. notFound when the
// frame or stack pointer (or return-address register) the entry needs is not
// valid; invalidArgument when an address overflows; notSupported for DWARF
// and none entries; a read's error when task memory cannot be read. `next`
// is complete only on success.
tlcrash_error_t tlcrash_async_cfe_entry_apply(const Task& task,
                                              tlcrash_vm_address_t function_address,
                                              const tlcrash_async_thread_state* current,
                                              const tlcrash_async_cfe_entry* entry,
                                              tlcrash_async_thread_state* next) noexcept;

// The register codes (1 to 6) of the `count` registers that `permutation`
// encodes. invalidArgument for a count above 6 or a permutation whose digits
// are out of range.
tlcrash_error_t tlcrash_async_cfe_register_decode_permutation(std::uint32_t permutation,
                                                              std::uint32_t count,
                                                              std::uint32_t* codes) noexcept;
// The permutation of `count` (at most 6) distinct register codes 1 to 6.
std::uint32_t tlcrash_async_cfe_register_encode_permutation(const std::uint32_t* codes,
                                                            std::uint32_t count) noexcept;

// The compact unwind frame reader. badFrame without a valid instruction
// pointer; notSupported when it is 0, outside every image, the image has no
// section or entry for it, or the entry cannot be decoded; invalidArgument
// when the section header is unusable or the function address overflows;
// noFrames for an entry that holds no unwind information or cannot be
// applied (a DWARF entry among them, so that the DWARF reader takes over).
tlcrash_async_frame_error_t tlcrash_async_frame_read_compact_unwind(
    const Task& task, tlcrash_async_image_list* image_list,
    const tlcrash_async_thread_state* current, const tlcrash_async_thread_state* previous,
    tlcrash_async_thread_state* next) noexcept;

}  // namespace tlcrash
